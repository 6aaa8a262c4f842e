// The input format table: one entry per kind of log this program reads,
// each with its priority, how its first bytes are recognised, its reader,
// the names used in messages, its file dialog patterns and its lines in
// the CLI's help. The judge of every import, the desktop program's Import
// dialog filters, `import --help` and the report's "read as ..." wording
// all come from it, so a new format is its reader pair plus one entry.
//
// The content, never the name, decides the reader. Before judging, what
// every format allows in front of its content is passed over: a UTF-8 byte
// order mark, white space, and for XML the declaration, comments,
// processing instructions and a DOCTYPE, up to the root element. Further
// blocks are read while the bytes so far do not decide, up to
// kLogJudgeMax bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "import/import_report.h"
#include "import/log_source.h"
#include "tiles/track_recorder.h"

namespace roamgrid {

// What the first bytes of a log are, as the syntax shows it: compressed,
// FIT, a zip archive, JSON, XML (any of the XML formats) or text (NMEA).
enum class LogKind { kNmea, kGzip, kGpx, kJson, kFit, kZip };

// The size of the first read of a log, enough to judge most logs at once.
inline constexpr size_t kLogHeadMax = 1024;

// The most bytes the judge reads before it decides. White space, comments
// or a declaration this long in front of a log's content is no log.
inline constexpr size_t kLogJudgeMax = size_t(1) << 20;

// Where a log's content begins, past a UTF-8 byte order mark and white
// space, and for XML past its prolog.
struct LogStart {
  enum class Content {
    kNone,  // nothing but a byte order mark and white space (so far)
    kText,  // anything else: text such as NMEA, or bytes of no text format
    kJson,  // "{", "[" or an RS byte (JSON text sequences)
    kXml,   // an XML declaration, comment or DOCTYPE, or a root element the table knows
  };
  std::string_view bytes;  // the first bytes of the log, as read
  bool atEnd = false;      // no more bytes will come
  Content content = Content::kNone;
  // The bytes so far end before the judge could see all it needs (the
  // XML root element's name, the end of white space); only when !atEnd.
  bool more = false;
  size_t contentAt = 0;  // offset of the JSON value or of the first "<" of XML
  int linesBefore = 0;   // line feeds before contentAt
  std::string root;      // XML: the root element's name without its prefix; empty if not seen
};

// Reads the start of `bytes` (the first bytes of a log; `atEnd` when no
// more will come).
LogStart ReadLogStart(std::string_view bytes, bool atEnd);

// How well a log's start fits one format.
enum class FormatMatch {
  kNo,      // not this format
  kMore,    // cannot tell from these bytes; more may decide
  kLikely,  // no other format's start: this reader takes it and names what is wrong
            // (in a folder such a file is passed over as no log)
  kYes,     // this format
};

// A log judged and about to be read.
struct LogInput {
  ByteSource* source = nullptr;  // its bytes; XML from the first "<" on
  int fd = -1;                   // the file itself (KMZ reads the archive); -1 within a decoder
  int linesBefore = 0;           // lines passed over before the source's first byte
  // The encoding XML is parsed in regardless of its declaration ("UTF-8"
  // after the UTF-16 decoder); nullptr: as the document says.
  const char* xmlEncoding = nullptr;
};

using LogReader = void (*)(TrackRecorder& recorder, LogInput& input, ImportReport& report,
                           const ImportOptions& options);
// A decoder (gzip, UTF-16) wraps the source; the decoded log is judged anew.
using LogDecoder = std::unique_ptr<ByteSource> (*)(ByteSource& source, LogInput& input,
                                                   ImportReport& report);

struct InputFormat {
  // Judged in ascending priority; the first entry that does not answer kNo
  // decides (kMore: read on). Gzip, UTF-16, FIT and zip go first, since
  // their first bytes say so; gpsd's JSON reports come before JSON; NMEA
  // takes whatever is left.
  int priority = 0;
  const char* name = "";    // "GPX"
  const char* readAs = "";  // "a GPX document", in "... bytes read as a GPX document"
  const char* unit = "";    // what the CLI's line per log counts: "fixes" or "points"
  LogKind kind = LogKind::kNmea;
  // How its first bytes look; nullptr for XML known by its root alone.
  FormatMatch (*identify)(const LogStart& start) = nullptr;
  // XML: the root element's name without a prefix ("gpx"). It is also
  // what makes a text that begins with it XML.
  const char* xmlRoot = nullptr;
  LogReader read = nullptr;           // set for a format that is read,
  LogDecoder decode = nullptr;        // or for a decoder
  const char* dialogLabel = nullptr;  // the Import dialog's filter, "GPX tracks"; nullptr: none
  const char* patterns = nullptr;     // its patterns, "*.gpx *.gpx.gz"
  const char* help = nullptr;         // its rows in `import --help`; nullptr: none
};

// The table, in the order formats are listed (help, dialog filters).
std::span<const InputFormat> InputFormats();

// The entry named `name` ("GPX"); nullptr when there is none.
const InputFormat* FindInputFormat(std::string_view name);

// The judgement of a log's first bytes: the entry that takes it (nullptr
// while more bytes are needed) and how sure it is (kYes or kLikely).
struct LogJudgement {
  const InputFormat* format = nullptr;
  FormatMatch match = FormatMatch::kNo;
  LogStart start;
};
LogJudgement JudgeLog(std::string_view bytes, bool atEnd);

// The Import dialog's filters, "Label (*.a *.b)" each: "All supported
// files" with every pattern of the table first, then one per format.
std::string AllSupportedFilter();
std::vector<std::string> FormatFilters();

// The rows of `import --help` that list the formats, in table order.
std::string InputFormatsHelp();

// Judges the first `size` bytes of a log as the syntax tells it: the
// gzip magic bytes (1F 8B), a FIT file header (size 12 or 14, ".FIT" at
// byte 8), a zip archive ("PK" 03 04, read as KMZ), XML (kGpx: an XML
// declaration, comment or DOCTYPE, or a root the table knows), JSON ("{",
// "[" or an RS byte, but not gpsd's reports, '{"class"', which come before
// the NMEA of `gpspipe -r`); or else NMEA. A UTF-16 text (its byte order
// mark FF FE or FE FF first) is judged by its characters. Returns false
// when the bytes so far do not decide it yet and more may come (`atEnd`
// false and fewer than kLogJudgeMax bytes).
bool JudgeLogStart(const char* data, size_t size, bool atEnd, LogKind* kind);

// "UTF-16" when the first bytes of a log are a UTF-16 byte order mark (not
// the start of a UTF-32 one, FF FE 00 00); nullptr otherwise.
const char* WideGpxEncoding(const char* data, size_t size);

// Whether text `head` (the first bytes of a log judged NMEA) holds an NMEA
// sentence at the start of a line: "$" or "!", five letters or digits,
// ",". Files found in a folder without one are not read as logs.
bool LooksLikeNmea(std::string_view head);

}  // namespace roamgrid
