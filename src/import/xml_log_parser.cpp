#include "import/xml_log_parser.h"

// The library is built with DTD support; this declares its entity
// amplification limits.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <cstdlib>
#include <cstring>

namespace roamgrid {

namespace {

constexpr int kBlockSize = 64 << 10;

const char* LocalName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

}  // namespace

// expat's memory, counted against kXmlParserMemoryMax. The allocation
// functions take no context, so the one parser of the thread is named here.
struct XmlParserMemory {
  size_t used = 0;
  bool exceeded = false;
};

namespace {

thread_local XmlParserMemory* tMemory = nullptr;

// Each block carries its size in front, kept aligned for any type.
constexpr size_t kHeader = alignof(std::max_align_t);

void* CountedRealloc(void* pointer, size_t size) {
  auto& memory = *tMemory;
  char* block = pointer ? static_cast<char*>(pointer) - kHeader : nullptr;
  size_t old = 0;
  if (block) std::memcpy(&old, block, sizeof old);
  if (size > kXmlParserMemoryMax || memory.used - old + size > kXmlParserMemoryMax) {
    memory.exceeded = true;
    return nullptr;
  }
  char* grown = static_cast<char*>(std::realloc(block, size + kHeader));
  if (!grown) return nullptr;
  std::memcpy(grown, &size, sizeof size);
  memory.used = memory.used - old + size;
  return grown + kHeader;
}

void* CountedMalloc(size_t size) { return CountedRealloc(nullptr, size); }

void CountedFree(void* pointer) {
  if (!pointer) return;
  char* block = static_cast<char*>(pointer) - kHeader;
  size_t size = 0;
  std::memcpy(&size, block, sizeof size);
  tMemory->used -= size;
  std::free(block);
}

XML_Parser AsParser(void* parser) { return static_cast<XML_Parser>(parser); }

}  // namespace

XmlLogParser::XmlLogParser(ImportReport& report, const char* format, const char* root,
                           int linesBefore, const char* encoding, bool wantsText)
    : report_(report),
      format_(format),
      root_(root),
      linesBefore_(linesBefore),
      memory_(new XmlParserMemory),
      previous_(tMemory) {
  tMemory = memory_;
  const XML_Memory_Handling_Suite suite = {CountedMalloc, CountedRealloc, CountedFree};
  XML_Parser parser = XML_ParserCreate_MM(encoding, &suite, nullptr);
  parser_ = parser;
  if (!parser) return;
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, StartElement, EndElement);
  if (wantsText) XML_SetCharacterDataHandler(parser, Text);
  // Parameter entities (and with them any external DTD) are never read,
  // and without an external entity handler no entity is ever loaded.
  XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, 100.0f);
  XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, 1 << 20);
}

XmlLogParser::~XmlLogParser() {
  if (parser_) XML_ParserFree(AsParser(parser_));
  tMemory = previous_;
  delete memory_;
}

bool XmlLogParser::Parse(SourceReader& reader) {
  if (!parser_) return Failed("the XML parser could not be set up (out of memory)");
  XML_Parser parser = AsParser(parser_);
  for (;;) {
    void* buffer = XML_GetBuffer(parser, kBlockSize);
    if (!buffer) return Failed(ErrorText());
    const ByteSource::Result got = reader.Read(static_cast<char*>(buffer), kBlockSize);
    const bool atEnd = got.status != ByteSource::Status::kData;
    // A read error or a cancel leaves the document unfinished; that is no
    // fault of the XML.
    if (atEnd && (report_.readError || report_.cancelled)) return false;
    if (XML_ParseBuffer(parser, int(got.size), atEnd) != XML_STATUS_OK) return Failed(ErrorText());
    if (atEnd) return true;
  }
}

bool XmlLogParser::Failed(const std::string& text) {
  report_.readError = true;
  report_.readErrorText = text;
  return false;
}

std::string XmlLogParser::ErrorText() const {
  if (!rootError_.empty()) return rootError_;
  XML_Parser parser = AsParser(parser_);
  const std::string line =
      "line " + std::to_string(XML_GetCurrentLineNumber(parser) + linesBefore_) + ": ";
  if (memory_->exceeded)
    return "malformed " + std::string(format_) + " at " + line +
           "an element or its entities exceed " + std::to_string(kXmlParserMemoryMax >> 20) +
           " MiB";
  return "malformed " + std::string(format_) + " at " + line +
         XML_ErrorString(XML_GetErrorCode(parser));
}

void XMLCALL XmlLogParser::StartElement(void* data, const char* name, const char** attributes) {
  auto* self = static_cast<XmlLogParser*>(data);
  const char* local = LocalName(name);
  if (!self->rootSeen_) {
    self->rootSeen_ = true;
    if (std::strcmp(local, self->root_) != 0) {
      self->rootError_ = "not a " + std::string(self->format_) + " file: the root element is <" +
                         local + ">";
      XML_StopParser(AsParser(self->parser_), XML_FALSE);
    }
    return;
  }
  self->OnStart(local, attributes);
}

void XMLCALL XmlLogParser::EndElement(void* data, const char* name) {
  static_cast<XmlLogParser*>(data)->OnEnd(LocalName(name));
}

void XMLCALL XmlLogParser::Text(void* data, const char* text, int length) {
  static_cast<XmlLogParser*>(data)->OnText(text, length);
}

}  // namespace roamgrid
