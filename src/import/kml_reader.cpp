#include "import/kml_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include "import/gpx_reader.h"
#include "import/iso_time.h"
#include "import/track_points.h"
#include "import/xml_log_parser.h"

namespace roamgrid {

namespace {

// A coordinate tuple longer than this is no position.
constexpr size_t kTupleMax = 128;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class KmlParser : public XmlLogParser {
 public:
  KmlParser(TrackPoints& points, ImportReport& report, int linesBefore, const char* encoding)
      : XmlLogParser(report, "KML", "kml", linesBefore, encoding),
        points_(points),
        report_(report) {}

 private:
  enum class Text { kNone, kCoordinates, kCoord, kWhen };

  void OnStart(const char* name, const char**) override {
    if (std::strcmp(name, "LineString") == 0) {
      ++lineStrings_;
    } else if (std::strcmp(name, "Track") == 0) {
      ++tracks_;
      times_.clear();
      coords_ = 0;
    } else if (std::strcmp(name, "coordinates") == 0 && lineStrings_ > 0) {
      text_ = Text::kCoordinates;
    } else if (std::strcmp(name, "coord") == 0 && tracks_ > 0) {
      text_ = Text::kCoord;
    } else if (std::strcmp(name, "when") == 0 && tracks_ > 0) {
      text_ = Text::kWhen;
    }
    tuple_.clear();
  }

  void OnEnd(const char* name) override {
    switch (text_) {
      case Text::kCoordinates:
        EndTuple(',');
        break;
      case Text::kCoord:
        EndTuple(' ');
        break;
      case Text::kWhen: {
        // Ignored past the limit; a when that is no time keeps its place.
        if (times_.size() < kKmlTrackTimesMax) {
          size_t first = 0, last = tuple_.size();
          while (first < last && IsSpace(tuple_[first])) ++first;
          while (last > first && IsSpace(tuple_[last - 1])) --last;
          times_.push_back(ParseIsoTime(std::string_view(tuple_).substr(first, last - first))
                               .value_or(kNoTime));
        }
        break;
      }
      case Text::kNone:
        break;
    }
    text_ = Text::kNone;
    tuple_.clear();
    if (std::strcmp(name, "LineString") == 0 && lineStrings_ > 0) {
      --lineStrings_;
      points_.EndTrack();
    } else if (std::strcmp(name, "Track") == 0 && tracks_ > 0) {
      --tracks_;
      points_.EndTrack();
      times_.clear();
    }
  }

  void OnText(const char* text, int length) override {
    if (text_ == Text::kNone) return;
    for (int i = 0; i < length; ++i) {
      const char c = text[i];
      // LineString tuples end at white space; a gx:coord or when is whole.
      if (text_ == Text::kCoordinates && IsSpace(c)) {
        EndTuple(',');
      } else if (tuple_.size() <= kTupleMax) {
        tuple_ += c;
      }
    }
  }

  // The tuple gathered so far, its values separated by `separator`.
  void EndTuple(char separator) {
    if (tuple_.empty() || (separator == ' ' && tuple_.find_first_not_of(" \t\r\n") ==
                                                   std::string::npos)) {
      tuple_.clear();
      return;
    }
    double value[3];
    int count = 0;
    bool good = tuple_.size() <= kTupleMax;
    size_t at = 0;
    while (good && at <= tuple_.size()) {
      size_t end = separator == ' ' ? tuple_.find_first_of(" \t\r\n", at) : tuple_.find(',', at);
      if (end == std::string::npos) end = tuple_.size();
      const std::string part = tuple_.substr(at, end - at);
      at = end + 1;
      if (separator == ' ' && part.empty()) continue;  // runs of blanks
      const std::optional<double> number = ParseGpxDegrees(part.c_str());
      if (!number || count == 3) {
        good = false;
      } else {
        value[count++] = *number;
      }
    }
    tuple_.clear();
    const double seconds =
        text_ == Text::kCoord && coords_ < times_.size() ? times_[coords_] : kNoTime;
    if (text_ == Text::kCoord) ++coords_;
    if (!good || count < 2) {
      ++report_.skipped;
    } else if (points_.Add(value[1], value[0], seconds)) {
      ++report_.fixes;
    }
  }

  TrackPoints& points_;
  ImportReport& report_;
  int lineStrings_ = 0;  // open LineString elements
  int tracks_ = 0;       // open gx:Track elements
  Text text_ = Text::kNone;
  std::string tuple_;
  std::vector<double> times_;  // of the open gx:Track
  size_t coords_ = 0;          // its gx:coord elements so far
};

}  // namespace

void ReadKmlLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                const ImportOptions& options, int linesBefore, const char* encoding) {
  SourceReader reader(source, report, options);
  TrackPoints points(recorder, options, report);
  KmlParser(points, report, linesBefore, encoding).Parse(reader);
  points.EndTrack();
}

}  // namespace roamgrid
