// The XML side shared by the GPX, KML and TCX readers: expat run as a
// stream over a log's byte source, in constant memory, safe with any
// input (no DTD or external entity is ever loaded, the parser's memory is
// bounded, entity amplification is limited). A reader derives from it and
// is told of elements (names without their namespace prefix) and of the
// text inside them.
#pragma once

#include <string>

#include "import/log_source.h"

namespace roamgrid {

// Memory the XML parser may hold at most: far above what any log needs
// (its buffer holds one block and the element being read), so that a
// giant element or an entity bomb ends in an error, not in exhausted memory.
inline constexpr size_t kXmlParserMemoryMax = size_t(8) << 20;

// The parser's counted memory (defined with the parser).
struct XmlParserMemory;

class XmlLogParser {
 public:
  // `format` names the document in errors ("KML"); `root` is the local name
  // its root element must have; `linesBefore` lines were skipped before the
  // source's first byte. `encoding`, when given, overrides what the
  // document declares ("UTF-8" for a UTF-16 log decoded on the way). Without
  // `wantsText` OnText is never called, which spares the parser the work.
  XmlLogParser(ImportReport& report, const char* format, const char* root, int linesBefore,
               const char* encoding = nullptr, bool wantsText = true);
  virtual ~XmlLogParser();
  XmlLogParser(const XmlLogParser&) = delete;
  XmlLogParser& operator=(const XmlLogParser&) = delete;

  // Feeds the document block by block. Malformed XML or another root ends
  // it as a read error (report.readErrorText names the line); false then,
  // and after a read error or a cancel.
  bool Parse(SourceReader& reader);

 protected:
  // An element below the root begins or ends; `name` without its prefix.
  virtual void OnStart(const char* name, const char** attributes) = 0;
  virtual void OnEnd(const char* name) = 0;
  // Text inside the current element, in pieces as it comes.
  virtual void OnText(const char* text, int length) = 0;

 private:
  bool Failed(const std::string& text);
  std::string ErrorText() const;
  static void StartElement(void* data, const char* name, const char** attributes);
  static void EndElement(void* data, const char* name);
  static void Text(void* data, const char* text, int length);

  ImportReport& report_;
  const char* format_;
  const char* root_;
  int linesBefore_;
  XmlParserMemory* memory_;
  XmlParserMemory* previous_;
  void* parser_ = nullptr;  // XML_Parser
  bool rootSeen_ = false;
  std::string rootError_;
};

}  // namespace roamgrid
