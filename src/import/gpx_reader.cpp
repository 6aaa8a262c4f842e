#include "import/gpx_reader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "common/number_text.h"
#include "import/iso_time.h"
#include "import/track_points.h"
#include "import/xml_log_parser.h"

namespace roamgrid {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class GpxParser : public XmlLogParser {
 public:
  GpxParser(TrackPoints& points, ImportReport& report, int linesBefore, const char* encoding)
      : XmlLogParser(report, "GPX", "gpx", linesBefore, encoding, points.WantsTimes()),
        points_(points),
        report_(report) {}

 private:
  void OnText(const char* text, int length) override {
    // Only the text of a track point's <time>, and no more of it than a
    // time can take.
    if (inTime_ && timeText_.size() + size_t(length) <= kTimeTextMax)
      timeText_.append(text, size_t(length));
  }

  void OnEnd(const char* name) override {
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

  void OnStart(const char* name, const char** attributes) override {
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
    if (inPoint_) OnEnd("trkpt");  // a point inside a point: the outer one first
    std::optional<double> lat, lon;
    for (const char** at = attributes; at[0]; at += 2) {
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
  SourceReader reader(source, report, options);
  TrackPoints points(recorder, options, report);
  GpxParser(points, report, linesBefore, encoding).Parse(reader);
}

}  // namespace roamgrid
