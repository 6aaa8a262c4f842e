#include "import/input_formats.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "import/fit_reader.h"
#include "import/gpx_reader.h"
#include "import/gzip_source.h"
#include "import/json_reader.h"
#include "import/kml_reader.h"
#include "import/nmea_reader.h"
#include "import/tcx_reader.h"
#include "import/utf16_source.h"
#include "import/zip_source.h"

namespace roamgrid {

namespace {

using Content = LogStart::Content;

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAsciiAlnum(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// How `bytes` stands to `word`: it begins with all of it, with a part of
// it (the bytes end first), or not at all.
enum class Prefix { kWhole, kPart, kNo };
Prefix PrefixOf(std::string_view bytes, std::string_view word) {
  const size_t length = std::min(bytes.size(), word.size());
  if (bytes.compare(0, length, word, 0, length) != 0) return Prefix::kNo;
  return length == word.size() ? Prefix::kWhole : Prefix::kPart;
}

// kYes when `bytes` begins with `magic`; kMore for a part of it that more
// bytes may complete.
FormatMatch MatchMagic(const LogStart& start, std::string_view magic) {
  switch (PrefixOf(start.bytes, magic)) {
    case Prefix::kWhole:
      return FormatMatch::kYes;
    case Prefix::kPart:
      return start.bytes.empty() || start.atEnd ? FormatMatch::kNo : FormatMatch::kMore;
    case Prefix::kNo:
      break;
  }
  return FormatMatch::kNo;
}

// Reads the XML prolog from `start.contentAt` (a "<") up to the root
// element, filling in `start`.
void ReadXmlProlog(LogStart& start) {
  const std::string_view bytes = start.bytes;
  size_t at = start.contentAt;
  // XML only when it begins as one of the program's XML logs would: the
  // declaration, a comment, a DOCTYPE or the root of an XML format. Any other text that
  // begins with "<" is no log of this program's XML formats.
  bool certain = false;
  bool partial = false;
  for (std::string_view word : {"<?xml", "<!--", "<!DOCTYPE"}) {
    const Prefix prefix = PrefixOf(bytes.substr(at), word);
    certain = certain || prefix == Prefix::kWhole;
    partial = partial || prefix == Prefix::kPart;
  }
  for (const InputFormat& format : InputFormats()) {
    if (!format.xmlRoot) continue;
    const Prefix prefix = PrefixOf(bytes.substr(at + 1), format.xmlRoot);
    certain = certain || prefix == Prefix::kWhole;
    partial = partial || prefix == Prefix::kPart;
  }
  if (!certain) {
    start.content = partial && !start.atEnd ? Content::kNone : Content::kText;
    start.more = start.content == Content::kNone;
    return;
  }
  start.content = Content::kXml;
  // Within the prolog: more bytes are needed, or at the end there is no root.
  const auto unfinished = [&start] { start.more = !start.atEnd; };
  for (;;) {
    while (at < bytes.size() && IsXmlSpace(bytes[at])) ++at;
    if (at == bytes.size()) return unfinished();
    if (bytes[at] != '<') return;  // text before the root: the parser names it
    const std::string_view rest = bytes.substr(at);
    if (rest.size() < 2) return unfinished();
    if (rest[1] == '?' || rest[1] == '!') {
      // A declaration, processing instruction, comment or DOCTYPE (one
      // with an internal subset ends at its "]>").
      if (PrefixOf(rest, "<!--") == Prefix::kPart || PrefixOf(rest, "<!DOCTYPE") == Prefix::kPart)
        return unfinished();
      const bool comment = PrefixOf(rest, "<!--") == Prefix::kWhole;
      size_t end = rest.find(rest[1] == '?' ? "?>" : comment ? "-->" : ">", 2);
      if (!comment && rest[1] == '!') {
        const size_t subset = rest.find('[');
        if (subset != std::string_view::npos && subset < end) end = rest.find("]>", subset);
      }
      if (end == std::string_view::npos) return unfinished();
      at += rest.find('>', end) + 1;
      continue;
    }
    size_t nameEnd = 1;
    while (nameEnd < rest.size() && !IsXmlSpace(rest[nameEnd]) && rest[nameEnd] != '>' &&
           rest[nameEnd] != '/')
      ++nameEnd;
    if (nameEnd == rest.size() && !start.atEnd) return unfinished();
    std::string_view name = rest.substr(1, nameEnd - 1);
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos)
      name.remove_prefix(colon + 1);
    start.root = std::string(name);
    return;
  }
}

// --- What each format's first bytes look like.

FormatMatch IsGzip(const LogStart& start) { return MatchMagic(start, "\x1f\x8b"); }

FormatMatch IsUtf16(const LogStart& start) {
  if (WideGpxEncoding(start.bytes.data(), start.bytes.size())) return FormatMatch::kYes;
  const bool markStart =
      start.bytes.size() == 1 && (start.bytes[0] == '\xff' || start.bytes[0] == '\xfe');
  return markStart && !start.atEnd ? FormatMatch::kMore : FormatMatch::kNo;
}

// A FIT file header: its first byte (the header size, 12 or 14) is no
// text, so a text log never waits here.
FormatMatch IsFit(const LogStart& start) {
  constexpr size_t kMagicAt = 8;
  const std::string_view bytes = start.bytes;
  if (bytes.empty() || (bytes[0] != 12 && bytes[0] != 14)) return FormatMatch::kNo;
  if (bytes.size() < kMagicAt + 4) return start.atEnd ? FormatMatch::kNo : FormatMatch::kMore;
  return bytes.substr(kMagicAt, 4) == ".FIT" ? FormatMatch::kYes : FormatMatch::kNo;
}

FormatMatch IsZip(const LogStart& start) { return MatchMagic(start, "PK\x03\x04"); }

// The stream of `gpspipe -r`: gpsd's JSON reports ('{"class"') before the
// NMEA sentences it passes on.
FormatMatch IsGpsdStream(const LogStart& start) {
  if (start.content != Content::kJson) return start.more ? FormatMatch::kMore : FormatMatch::kNo;
  switch (PrefixOf(start.bytes.substr(start.contentAt), "{\"class\"")) {
    case Prefix::kWhole:
      return LooksLikeNmea(start.bytes) ? FormatMatch::kYes : FormatMatch::kLikely;
    case Prefix::kPart:
      return start.atEnd ? FormatMatch::kNo : FormatMatch::kMore;
    case Prefix::kNo:
      break;
  }
  return FormatMatch::kNo;
}

FormatMatch IsJson(const LogStart& start) {
  if (start.more) return FormatMatch::kMore;
  return start.content == Content::kJson ? FormatMatch::kYes : FormatMatch::kNo;
}

FormatMatch IsXmlRoot(const LogStart& start, std::string_view root) {
  if (start.more) return FormatMatch::kMore;
  return start.content == Content::kXml && start.root == root ? FormatMatch::kYes
                                                              : FormatMatch::kNo;
}

// GPX also takes XML of any other root, or none: its reader names what it
// finds.
FormatMatch IsGpx(const LogStart& start) {
  const FormatMatch match = IsXmlRoot(start, "gpx");
  if (match != FormatMatch::kNo) return match;
  return start.content == Content::kXml ? FormatMatch::kLikely : FormatMatch::kNo;
}

// NMEA takes whatever is left.
FormatMatch IsNmea(const LogStart& start) {
  return LooksLikeNmea(start.bytes) ? FormatMatch::kYes : FormatMatch::kLikely;
}

// --- The readers the table names more than once or that need more than
// their source, and the decoders.

void ReadNmea(TrackRecorder& recorder, LogInput& input, ImportReport& report,
              const ImportOptions& options) {
  ReadNmeaLog(recorder, *input.source, report, options);
}

// A KMZ archive: its first KML, read from the file itself (the directory
// of a zip archive is at its end), never from within a decoder.
void ReadKmz(TrackRecorder& recorder, LogInput& input, ImportReport& report,
             const ImportOptions& options) {
  if (input.fd < 0) {
    report.readError = true;
    report.readErrorText = "a KMZ (zip) archive inside a compressed file is not read";
    return;
  }
  ZipSource zip(input.fd, report.bytesRead);
  if (zip.opened() == ZipSource::Opened::kNoKml && options.onlyLogs) {
    report.notRecognised = true;
    return;
  }
  if (zip.opened() != ZipSource::Opened::kKml) {
    report.readError = true;
    report.readErrorText = zip.ErrorText();
    return;
  }
  ReadKmlLog(recorder, zip, report, options);
}

std::unique_ptr<ByteSource> DecodeGzip(ByteSource& source, LogInput&, ImportReport& report) {
  report.compressed = true;
  return std::make_unique<GzipSource>(source);
}

std::unique_ptr<ByteSource> DecodeUtf16(ByteSource& source, LogInput& input, ImportReport&) {
  input.xmlEncoding = "UTF-8";
  return std::make_unique<Utf16Source>(source);
}

// --- The table. Listed in the order the help and the dialog show the
// formats; judged by priority.

constexpr InputFormat kFormats[] = {
    {.priority = 10,
     .name = "gzip",
     .kind = LogKind::kGzip,
     .identify = IsGzip,
     .decode = DecodeGzip,
     .dialogLabel = "Compressed logs",
     .patterns = "*.gz",
     .help = R"(  gzip-compressed data   decompressed as it is read (members one after
                         another), then judged again: .log.gz, .gpx.gz
)"},
    {.priority = 90,
     .name = "GPX",
     .readAs = "a GPX document",
     .unit = "points",
     .kind = LogKind::kGpx,
     .identify = IsGpx,
     .xmlRoot = "gpx",
     .read =
         [](TrackRecorder& recorder, LogInput& input, ImportReport& report,
            const ImportOptions& options) {
           ReadGpxLog(recorder, *input.source, report, options, input.linesBefore,
                      input.xmlEncoding);
         },
     .dialogLabel = "GPX tracks",
     .patterns = "*.gpx *.gpx.gz",
     .help = R"(  GPX 1.0 or 1.1         XML with the root <gpx>: the lat and lon of every
                         track point (trkpt); route points and waypoints
                         are not recorded
)"},
    {.priority = 70,
     .name = "KML",
     .readAs = "a KML document",
     .unit = "points",
     .kind = LogKind::kGpx,
     .xmlRoot = "kml",
     .read =
         [](TrackRecorder& recorder, LogInput& input, ImportReport& report,
            const ImportOptions& options) {
           ReadKmlLog(recorder, *input.source, report, options, input.linesBefore,
                      input.xmlEncoding);
         },
     .dialogLabel = "KML tracks",
     .patterns = "*.kml *.kml.gz",
     .help = R"(  KML, KMZ               XML with the root <kml>, or a zip archive (its
                         first .kml): LineString coordinates and gx:Track
                         gx:coord; Point placemarks are not recorded
)"},
    {.priority = 40,
     .name = "KMZ",
     .readAs = "a KMZ archive",
     .unit = "points",
     .kind = LogKind::kZip,
     .identify = IsZip,
     .read = ReadKmz,
     .dialogLabel = "KMZ archives",
     .patterns = "*.kmz"},
    {.priority = 80,
     .name = "TCX",
     .readAs = "a TCX document",
     .unit = "points",
     .kind = LogKind::kGpx,
     .xmlRoot = "TrainingCenterDatabase",
     .read =
         [](TrackRecorder& recorder, LogInput& input, ImportReport& report,
            const ImportOptions& options) {
           ReadTcxLog(recorder, *input.source, report, options, input.linesBefore,
                      input.xmlEncoding);
         },
     .dialogLabel = "TCX activities",
     .patterns = "*.tcx *.tcx.gz",
     .help = R"(  TCX                    XML with the root <TrainingCenterDatabase>: the
                         Position of every Trackpoint of an activity or a
                         course
)"},
    {.priority = 30,
     .name = "FIT",
     .readAs = "a FIT file",
     .unit = "points",
     .kind = LogKind::kFit,
     .identify = IsFit,
     .read =
         [](TrackRecorder& recorder, LogInput& input, ImportReport& report,
            const ImportOptions& options) { ReadFitLog(recorder, *input.source, report, options); },
     .dialogLabel = "FIT activities",
     .patterns = "*.fit",
     .help = R"(  FIT                    a FIT file header: the position of every record
                         message; header, messages and CRCs are checked,
                         and a file whose CRC is wrong records nothing
)"},
    {.priority = 60,
     .name = "JSON",
     .readAs = "a JSON document",
     .unit = "points",
     .kind = LogKind::kJson,
     .identify = IsJson,
     .read =
         [](TrackRecorder& recorder, LogInput& input, ImportReport& report,
            const ImportOptions& options) {
           ReadJsonLog(recorder, *input.source, report, options);
         },
     .dialogLabel = "Location histories and GeoJSON",
     .patterns = "*.json *.json.gz *.geojson *.geojsonl *.geojsons",
     .help = R"(  location history       JSON: Records.json (locations[]), Semantic Location
                         History (activity paths and visits), Android
                         Timeline.json, iOS location-history.json
  GeoJSON                JSON: LineString and MultiLineString, and Point
                         features whose properties mark track points
                         (track_fid, track_seg_id, track_seg_point_id, or
                         "type": "trackpoint"); other Points are places and
                         not recorded; members in any order; Polygons and
                         MultiPolygons are areas, passed over and counted
)"},
    {.priority = 100,
     .name = "NMEA",
     .readAs = "an NMEA log",
     .unit = "fixes",
     .kind = LogKind::kNmea,
     .identify = IsNmea,
     .read = ReadNmea,
     .dialogLabel = "NMEA logs",
     .patterns = "*.log *.nmea *.log.gz *.nmea.gz",
     .help = R"(  NMEA 0183 text         anything else: the position of every GGA sentence.
                         Without --any-talker only lines beginning "$GPGGA,"
                         are used, as in the desktop program.
)"},
    {.priority = 20,
     .name = "UTF-16",
     .kind = LogKind::kNmea,
     .identify = IsUtf16,
     .decode = DecodeUtf16},
    {.priority = 50,
     .name = "gpsd",
     .readAs = "an NMEA log",
     .unit = "fixes",
     .kind = LogKind::kNmea,
     .identify = IsGpsdStream,
     .read = ReadNmea},
};

// How `format` takes `start`: its own judge, or its XML root.
FormatMatch Identify(const InputFormat& format, const LogStart& start) {
  if (format.identify) return format.identify(start);
  return format.xmlRoot ? IsXmlRoot(start, format.xmlRoot) : FormatMatch::kNo;
}

// The entries by priority.
const std::array<const InputFormat*, std::size(kFormats)>& ByPriority() {
  static const auto sorted = [] {
    std::array<const InputFormat*, std::size(kFormats)> order;
    for (size_t i = 0; i < order.size(); ++i) order[i] = &kFormats[i];
    std::sort(order.begin(), order.end(),
              [](const InputFormat* a, const InputFormat* b) { return a->priority < b->priority; });
    return order;
  }();
  return sorted;
}

}  // namespace

LogStart ReadLogStart(std::string_view bytes, bool atEnd) {
  LogStart start;
  start.bytes = bytes;
  start.atEnd = atEnd;
  size_t at = 0;
  switch (PrefixOf(bytes, "\xef\xbb\xbf")) {
    case Prefix::kWhole:
      at = 3;
      break;
    case Prefix::kPart:
      if (!bytes.empty()) {
        start.content = atEnd ? Content::kText : Content::kNone;
        start.more = !atEnd;
        return start;
      }
      break;
    case Prefix::kNo:
      break;
  }
  while (at < bytes.size() && IsXmlSpace(bytes[at])) ++at;
  start.contentAt = at;
  start.linesBefore = int(std::count(bytes.begin(), bytes.begin() + at, '\n'));
  if (at == bytes.size()) {
    start.more = !atEnd;
    return start;
  }
  const char first = bytes[at];
  if (first == '{' || first == '[' || first == '\x1e') {
    start.content = Content::kJson;
  } else if (first == '<') {
    ReadXmlProlog(start);
  } else {
    start.content = Content::kText;
  }
  return start;
}

std::span<const InputFormat> InputFormats() { return kFormats; }

const InputFormat* FindInputFormat(std::string_view name) {
  for (const InputFormat& format : kFormats)
    if (name == format.name) return &format;
  return nullptr;
}

LogJudgement JudgeLog(std::string_view bytes, bool atEnd) {
  LogJudgement judgement;
  judgement.start = ReadLogStart(bytes, atEnd);
  for (const InputFormat* format : ByPriority()) {
    const FormatMatch match = Identify(*format, judgement.start);
    if (match == FormatMatch::kNo) continue;
    if (match != FormatMatch::kMore) {
      judgement.format = format;
      judgement.match = match;
    }
    return judgement;
  }
  return judgement;  // not reached: NMEA takes everything
}

std::string AllSupportedFilter() {
  // Every pattern once; those of compressed files are covered by "*.gz".
  std::string patterns;
  for (const InputFormat& format : kFormats) {
    if (!format.patterns) continue;
    std::string_view rest = format.patterns;
    while (!rest.empty()) {
      const std::string_view pattern = rest.substr(0, rest.find(' '));
      rest.remove_prefix(std::min(rest.size(), pattern.size() + 1));
      if (pattern.ends_with(".gz") && pattern != "*.gz") continue;
      patterns += (patterns.empty() ? "" : " ") + std::string(pattern);
    }
  }
  return "All supported files (" + patterns + ")";
}

std::vector<std::string> FormatFilters() {
  std::vector<std::string> filters;
  for (const InputFormat& format : kFormats) {
    if (format.dialogLabel)
      filters.push_back(std::string(format.dialogLabel) + " (" + format.patterns + ")");
  }
  return filters;
}

std::string InputFormatsHelp() {
  std::string help;
  for (const InputFormat& format : kFormats)
    if (format.help) help += format.help;
  return help;
}

bool JudgeLogStart(const char* data, size_t size, bool atEnd, LogKind* kind) {
  *kind = LogKind::kNmea;
  const std::string_view bytes(data, size);
  const LogJudgement judgement = JudgeLog(bytes, atEnd || size >= kLogJudgeMax);
  if (!judgement.format) {
    // XML whose root is still to come is XML all the same.
    if (judgement.start.content != Content::kXml) return false;
    *kind = LogKind::kGpx;
    return true;
  }
  if (judgement.format->decode == DecodeUtf16) {
    const std::string narrow = Utf16ToUtf8(bytes, atEnd);
    return JudgeLogStart(narrow.data(), narrow.size(), atEnd, kind);
  }
  *kind = judgement.format->kind;
  return true;
}

const char* WideGpxEncoding(const char* data, size_t size) {
  if (size < 2) return nullptr;
  const bool littleEndian = data[0] == '\xff' && data[1] == '\xfe';
  const bool bigEndian = data[0] == '\xfe' && data[1] == '\xff';
  if (littleEndian && size >= 4 && data[2] == '\0' && data[3] == '\0') return nullptr;  // UTF-32
  return littleEndian || bigEndian ? "UTF-16" : nullptr;
}

bool LooksLikeNmea(std::string_view head) {
  for (size_t at = 0; at < head.size(); at = head.find('\n', at), at += at != head.npos) {
    if (at == std::string_view::npos) break;
    if (head.size() - at < 7 || (head[at] != '$' && head[at] != '!')) continue;
    bool sentence = head[at + 6] == ',';
    for (size_t i = 1; i <= 5; ++i) sentence = sentence && IsAsciiAlnum(head[at + i]);
    if (sentence) return true;
  }
  return false;
}

}  // namespace roamgrid
