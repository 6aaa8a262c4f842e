#include "import/tcx_reader.h"

#include <cstring>
#include <optional>
#include <string>

#include "import/gpx_reader.h"
#include "import/iso_time.h"
#include "import/track_points.h"
#include "import/xml_log_parser.h"

namespace roamgrid {

namespace {

// A value longer than this is no number or time.
constexpr size_t kValueMax = 128;

class TcxParser : public XmlLogParser {
 public:
  TcxParser(TrackPoints& points, ImportReport& report, int linesBefore, const char* encoding)
      : XmlLogParser(report, "TCX", "TrainingCenterDatabase", linesBefore, encoding),
        points_(points),
        report_(report) {}

 private:
  enum class Value { kNone, kLat, kLon, kTime };

  void OnStart(const char* name, const char**) override {
    value_ = Value::kNone;
    text_.clear();
    if (std::strcmp(name, "Trackpoint") == 0) {
      inPoint_ = true;
      position_ = false;
      lat_.reset();
      lon_.reset();
      time_ = kNoTime;
    } else if (inPoint_ && std::strcmp(name, "Position") == 0) {
      position_ = true;
    } else if (inPoint_ && std::strcmp(name, "LatitudeDegrees") == 0) {
      value_ = Value::kLat;
    } else if (inPoint_ && std::strcmp(name, "LongitudeDegrees") == 0) {
      value_ = Value::kLon;
    } else if (inPoint_ && std::strcmp(name, "Time") == 0) {
      value_ = Value::kTime;
    }
  }

  void OnEnd(const char* name) override {
    const bool overlong = text_.size() > kValueMax;
    switch (value_) {
      case Value::kLat:
        if (!overlong) lat_ = ParseGpxDegrees(text_.c_str());
        break;
      case Value::kLon:
        if (!overlong) lon_ = ParseGpxDegrees(text_.c_str());
        break;
      case Value::kTime: {
        const size_t first = text_.find_first_not_of(" \t\r\n");
        const size_t last = text_.find_last_not_of(" \t\r\n");
        if (!overlong && first != std::string::npos)
          time_ = ParseIsoTime(std::string_view(text_).substr(first, last + 1 - first))
                      .value_or(kNoTime);
        break;
      }
      case Value::kNone:
        break;
    }
    value_ = Value::kNone;
    text_.clear();
    if (std::strcmp(name, "Trackpoint") == 0 && inPoint_) {
      inPoint_ = false;
      if (!position_) return;
      if (!lat_ || !lon_) {
        ++report_.skipped;
      } else if (points_.Add(*lat_, *lon_, time_)) {
        ++report_.fixes;
      }
    } else if (std::strcmp(name, "Track") == 0) {
      points_.EndTrack();
    }
  }

  void OnText(const char* text, int length) override {
    if (value_ == Value::kNone || text_.size() > kValueMax) return;
    text_.append(text, size_t(length) < kValueMax + 1 ? size_t(length) : kValueMax + 1);
  }

  TrackPoints& points_;
  ImportReport& report_;
  bool inPoint_ = false;
  bool position_ = false;
  std::optional<double> lat_, lon_;
  double time_ = kNoTime;
  Value value_ = Value::kNone;
  std::string text_;
};

}  // namespace

void ReadTcxLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore, const char* encoding) {
  SourceReader reader(source, report, options);
  TrackPoints points(recorder, options, report);
  TcxParser(points, report, linesBefore, encoding).Parse(reader);
  points.EndTrack();
}

}  // namespace roamgrid
