#include "import/gpx_reader.h"

// The library is built with DTD support; this declares its entity
// amplification limits.
#ifndef XML_DTD
#define XML_DTD
#endif
#include <expat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "common/number_text.h"
#include "import/iso_time.h"
#include "import/track_points.h"

namespace roamgrid {

namespace {

constexpr int kBlockSize = 64 << 10;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The name after any namespace prefix: "gpx:trkpt" -> "trkpt".
const char* LocalName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? colon + 1 : name;
}

// expat's memory, counted against kGpxParserMemoryMax. The allocation
// functions take no context, so the one parser of the thread is named here.
struct ParserMemory {
  size_t used = 0;
  bool exceeded = false;
};
thread_local ParserMemory* tMemory = nullptr;

// Each block carries its size in front, kept aligned for any type.
constexpr size_t kHeader = alignof(std::max_align_t);

void* CountedRealloc(void* pointer, size_t size) {
  ParserMemory& memory = *tMemory;
  char* block = pointer ? static_cast<char*>(pointer) - kHeader : nullptr;
  size_t old = 0;
  if (block) std::memcpy(&old, block, sizeof old);
  if (size > kGpxParserMemoryMax || memory.used - old + size > kGpxParserMemoryMax) {
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

class GpxParser {
 public:
  GpxParser(TrackPoints& points, ImportReport& report, int linesBefore, const char* encoding)
      : points_(points),
        report_(report),
        linesBefore_(linesBefore),
        wide_(encoding != nullptr),
        previous_(tMemory) {
    tMemory = &memory_;
    const XML_Memory_Handling_Suite suite = {CountedMalloc, CountedRealloc, CountedFree};
    parser_ = XML_ParserCreate_MM(encoding, &suite, nullptr);
    if (!parser_) return;
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, StartElement, EndElement);
    if (points_.WantsTimes()) XML_SetCharacterDataHandler(parser_, CharacterData);
    // Parameter entities (and with them any external DTD) are never read,
    // and without an external entity handler no entity is ever loaded.
    XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    // On by default; set so that it stays on.
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser_, 100.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser_, 1 << 20);
  }
  ~GpxParser() {
    if (parser_) XML_ParserFree(parser_);
    tMemory = previous_;
  }
  GpxParser(const GpxParser&) = delete;
  GpxParser& operator=(const GpxParser&) = delete;

  // Feeds the document block by block; false after the first failure, whose
  // reason is in the report.
  bool Parse(SourceReader& reader) {
    if (!parser_) return Failed("the XML parser could not be set up (out of memory)");
    for (;;) {
      void* buffer = XML_GetBuffer(parser_, kBlockSize);
      if (!buffer) return Failed(ErrorText());
      const ByteSource::Result got = reader.Read(static_cast<char*>(buffer), kBlockSize);
      const bool atEnd = got.status != ByteSource::Status::kData;
      // A read error or a cancel leaves the document unfinished; that is
      // no fault of the XML.
      if (atEnd && (report_.readError || report_.cancelled)) return false;
      if (XML_ParseBuffer(parser_, int(got.size), atEnd) != XML_STATUS_OK)
        return Failed(ErrorText());
      if (atEnd) return true;
    }
  }

 private:
  bool Failed(const std::string& text) {
    report_.readError = true;
    report_.readErrorText = text;
    return false;
  }

  std::string ErrorText() const {
    if (!rootError_.empty()) return rootError_;
    const std::string line =
        "line " + std::to_string(XML_GetCurrentLineNumber(parser_) + linesBefore_) + ": ";
    if (memory_.exceeded)
      return "malformed GPX at " + line + "an element or its entities exceed " +
             std::to_string(kGpxParserMemoryMax >> 20) + " MiB";
    return "malformed GPX at " + line + XML_ErrorString(XML_GetErrorCode(parser_));
  }

  static void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char** attributes) {
    static_cast<GpxParser*>(data)->OnElement(LocalName(name), attributes);
  }

  static void XMLCALL EndElement(void* data, const XML_Char* name) {
    static_cast<GpxParser*>(data)->OnElementEnd(LocalName(name));
  }

  static void XMLCALL CharacterData(void* data, const XML_Char* text, int length) {
    auto* parser = static_cast<GpxParser*>(data);
    // Only the text of a track point's <time>, and no more of it than a
    // time can take.
    if (parser->inTime_ && parser->timeText_.size() + size_t(length) <= kTimeTextMax)
      parser->timeText_.append(text, size_t(length));
  }

  void OnElementEnd(const char* name) {
    if (std::strcmp(name, "trkseg") == 0) {
      points_.EndTrack();
    } else if (inPoint_ && std::strcmp(name, "time") == 0) {
      inTime_ = false;
    } else if (inPoint_ && std::strcmp(name, "trkpt") == 0) {
      // The point is recorded at its end, once its time is known.
      inPoint_ = false;
      double seconds = kNoTime;
      const size_t first = timeText_.find_first_not_of(" \t\r\n");
      const size_t last = timeText_.find_last_not_of(" \t\r\n");
      if (first != std::string::npos)
        seconds = ParseIsoTime(std::string_view(timeText_).substr(first, last + 1 - first))
                      .value_or(kNoTime);
      if (points_.Add(pointLat_, pointLon_, seconds)) ++report_.fixes;
    }
  }

  // Why a document whose root element is `name` is not read. Only GPX is
  // read in UTF-16: another log of this program's kinds is told so.
  std::string RootError(const char* name) const {
    const char* colon = std::strrchr(name, ':');
    const char* local = colon ? colon + 1 : name;
    const char* format = std::strcmp(local, "kml") == 0                      ? "KML"
                         : std::strcmp(local, "TrainingCenterDatabase") == 0 ? "TCX"
                                                                             : nullptr;
    if (wide_ && format)
      return std::string("a ") + format +
             " document in UTF-16 is not read (only GPX is); "
             "save it as UTF-8";
    return std::string("not a GPX file: the root element is <") + name + ">";
  }

  void OnElement(const char* name, const XML_Char** attributes) {
    if (!rootSeen_) {
      rootSeen_ = true;
      if (std::strcmp(name, "gpx") != 0) {
        rootError_ = RootError(name);
        XML_StopParser(parser_, XML_FALSE);
      }
      return;
    }
    if (std::strcmp(name, "trkseg") == 0) {
      points_.EndTrack();
      return;
    }
    if (inPoint_ && std::strcmp(name, "time") == 0) {
      inTime_ = true;
      timeText_.clear();
      return;
    }
    if (std::strcmp(name, "trkpt") != 0) return;
    if (inPoint_) OnElementEnd("trkpt");  // a point inside a point: the outer one first
    std::optional<double> lat, lon;
    for (const XML_Char** at = attributes; at[0]; at += 2) {
      if (std::strcmp(at[0], "lat") == 0) lat = ParseGpxDegrees(at[1]);
      if (std::strcmp(at[0], "lon") == 0) lon = ParseGpxDegrees(at[1]);
    }
    if (!lat || !lon) {
      ++report_.skipped;
    } else if (!points_.WantsTimes()) {
      if (points_.Add(*lat, *lon)) ++report_.fixes;
    } else {
      inPoint_ = true;
      pointLat_ = *lat;
      pointLon_ = *lon;
      timeText_.clear();
    }
  }

  // Longer text in <time> is no time.
  static constexpr size_t kTimeTextMax = 64;

  TrackPoints& points_;
  ImportReport& report_;
  int linesBefore_;
  bool wide_;  // a UTF-16 document
  ParserMemory memory_;
  ParserMemory* previous_;
  XML_Parser parser_ = nullptr;
  bool rootSeen_ = false;
  std::string rootError_;
  // A track point whose end is awaited (only when times are read).
  bool inPoint_ = false;
  bool inTime_ = false;
  double pointLat_ = 0.0;
  double pointLon_ = 0.0;
  std::string timeText_;
};

}  // namespace

std::optional<double> ParseGpxDegrees(const char* text) {
  const char* begin = text;
  while (IsXmlSpace(*begin)) ++begin;
  const char* p = begin;
  if (*p == '+' || *p == '-') ++p;
  int digits = 0;
  for (; IsDigit(*p); ++p) ++digits;
  if (*p == '.')
    for (++p; IsDigit(*p); ++p) ++digits;
  if (digits == 0) return std::nullopt;
  // Not in the schema's decimal type, but some writers print small values
  // so ("1e-05").
  if (*p == 'e' || *p == 'E') {
    ++p;
    if (*p == '+' || *p == '-') ++p;
    if (!IsDigit(*p)) return std::nullopt;
    while (IsDigit(*p)) ++p;
  }
  const char* numberEnd = p;
  while (IsXmlSpace(*p)) ++p;
  if (*p != '\0') return std::nullopt;
  const char* end = nullptr;
  const double value = ParseLeadingDouble(begin, &end);
  if (end != numberEnd) return std::nullopt;
  return value;
}

void ReadGpxLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore, const char* encoding) {
  report.gpx = true;
  SourceReader reader(source, report, options);
  TrackPoints points(recorder, options, report);
  GpxParser(points, report, linesBefore, encoding).Parse(reader);
}

}  // namespace roamgrid
