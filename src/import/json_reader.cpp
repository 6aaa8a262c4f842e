#include "import/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "import/iso_time.h"
#include "import/track_points.h"

namespace roamgrid {

namespace {

constexpr size_t kBlockSize = size_t(64) << 10;
// Held positions beyond this many give their memory back once placed.
constexpr size_t kHeldKeptCapacity = 4096;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr char kDegreeSign[] = "\xc2\xb0";
// RFC 8142 puts this byte before every JSON text of a sequence.
constexpr char kRecordSeparator = '\x1e';

// The member names that matter; every other name is kOther.
enum class Name : uint8_t {
  kOther,
  kLatE7,       // latitudeE7, latE7
  kLonE7,       // longitudeE7, lngE7
  kAccuracy,    // accuracy, accuracyMeters, accuracyMetres
  kTime,        // timestamp, time
  kTimeMs,      // timestampMs
  kStartTime,   // startTime: the start of an iOS timeline segment
  kOffsetMin,   // durationMinutesOffsetFromStartTime
  kPosition,    // point, latLng, LatLng, placeLocation, start, end
  kSignal,      // position: one position of a series (rawSignals[])
  kType,        // type
  kKind,        // kind
  kCoordinates,
  kProperties,
  kExcluded,    // otherCandidateLocations, transitStops, frequentPlaces
  kTrackPoint,  // track_fid, track_seg_id, track_seg_point_id
};

Name NameOf(std::string_view name) {
  struct Entry {
    std::string_view text;
    Name name;
  };
  static constexpr Entry kNames[] = {
      {"latitudeE7", Name::kLatE7},
      {"latE7", Name::kLatE7},
      {"longitudeE7", Name::kLonE7},
      {"lngE7", Name::kLonE7},
      {"accuracy", Name::kAccuracy},
      {"accuracyMeters", Name::kAccuracy},
      {"accuracyMetres", Name::kAccuracy},
      {"timestamp", Name::kTime},
      {"time", Name::kTime},
      {"timestampMs", Name::kTimeMs},
      {"startTime", Name::kStartTime},
      {"durationMinutesOffsetFromStartTime", Name::kOffsetMin},
      {"point", Name::kPosition},
      {"latLng", Name::kPosition},
      {"LatLng", Name::kPosition},
      {"placeLocation", Name::kPosition},
      {"start", Name::kPosition},
      {"end", Name::kPosition},
      {"position", Name::kSignal},
      {"type", Name::kType},
      {"kind", Name::kKind},
      {"coordinates", Name::kCoordinates},
      {"properties", Name::kProperties},
      {"otherCandidateLocations", Name::kExcluded},
      {"transitStops", Name::kExcluded},
      {"frequentPlaces", Name::kExcluded},
      {"track_fid", Name::kTrackPoint},
      {"track_seg_id", Name::kTrackPoint},
      {"track_seg_point_id", Name::kTrackPoint},
  };
  // Every member name is looked up, so the names are first told apart by
  // their length and first letter, without a comparison of text.
  struct Index {
    uint64_t lengths[2] = {};  // bit n: a name of n characters (0..63) is known
    uint64_t firsts[2] = {};   // bit c - 64: a name begins with character c (64..191)
  };
  static constexpr Index kIndex = [] {
    Index index;
    for (const Entry& entry : kNames) {
      index.lengths[0] |= uint64_t(1) << entry.text.size();
      const unsigned first = uint8_t(entry.text[0]) - 64u;
      index.firsts[first >> 6] |= uint64_t(1) << (first & 63);
    }
    return index;
  }();
  if (name.empty() || name.size() > 63 || !(kIndex.lengths[0] >> name.size() & 1)) return Name::kOther;
  const unsigned first = uint8_t(name[0]) - 64u;
  if (first >= 128 || !(kIndex.firsts[first >> 6] >> (first & 63) & 1)) return Name::kOther;
  for (const Entry& entry : kNames)
    if (entry.text[0] == name[0] && entry.text == name) return entry.name;
  return Name::kOther;
}

// A whole number of digits (the milliseconds of a timestamp), read without
// the general number parser; others go to it.
std::optional<double> ParseDigits(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return double(value);
}

enum class Geometry : uint8_t {
  kNone,
  kPoint,
  kMultiPoint,
  kLine,  // LineString, MultiLineString
  kArea,  // Polygon, MultiPolygon
  kOther,
};

Geometry GeometryOf(std::string_view type) {
  if (type == "Point") return Geometry::kPoint;
  if (type == "MultiPoint") return Geometry::kMultiPoint;
  if (type == "LineString" || type == "MultiLineString") return Geometry::kLine;
  if (type == "Polygon" || type == "MultiPolygon") return Geometry::kArea;
  return Geometry::kOther;
}

std::optional<double> ParseNumber(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || !std::isfinite(value)) return std::nullopt;
  text.remove_prefix(size_t(end - text.data()));
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty()) return std::nullopt;
  return value;
}

// The nearest double of a number as JSON writes it (any count of digits);
// nothing when the number lies beyond a double's range: above the largest,
// or not zero yet nearer zero than the smallest.
std::optional<double> ParseJsonNumber(std::string_view text) {
  // Whole numbers (E7 coordinates, accuracies, milliseconds) are most of
  // what a location history holds: up to 18 digits they are read without
  // the general parser, rounded to a double as it rounds them.
  const bool negative = !text.empty() && text[0] == '-';
  if (const std::optional<double> whole = ParseDigits(text.substr(negative ? 1 : 0)))
    return negative ? -*whole : *whole;
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// `text` as an error message shows it: its first characters at most.
std::string Abridged(std::string_view text) {
  constexpr size_t kShown = 40;
  return text.size() <= kShown ? std::string(text) : std::string(text.substr(0, kShown)) + "...";
}

struct Position {
  double lat = 0;
  double lon = 0;
};

// A position of a coordinates array whose geometry has no "type" yet, and
// the array of positions (one line) it stands in.
struct HeldPosition {
  Position position;
  unsigned line = 0;
};

// One open array or object of the document.
struct Frame {
  bool array = false;
  Name key = Name::kOther;  // the member it stands under (an element: its array's)
  bool element = false;     // an element of an array
  bool excluded = false;    // below a member whose positions are not visits
  bool inProperties = false;
  unsigned serial = 0;  // tells arrays apart: positions of one array are one track
  // An object's members.
  double latE7 = kNaN, lonE7 = kNaN, accuracy = kNaN, time = kNaN, startTime = kNaN,
         offsetMinutes = kNaN;
  Position texts[2];  // positions written as text, handed on at the object's end
  int textCount = 0;
  Geometry geometry = Geometry::kNone;
  bool feature = false;     // "type": "Feature"
  bool trackPoint = false;  // properties (of a feature: its properties) mark a track point
  bool pointHeld = false;   // a feature's Point, held until its properties are known
  Position point;
  // A coordinates array: the numbers of a position, or whether it held positions.
  int numbers = 0;
  bool notNumbers = false;
  double first = 0, second = 0;
  bool holdsPositions = false;
};

// The parser's memory for strings and numbers, counted: past the limit a
// flag tells the stream to end the document, so the growth stops there.
class CountedStackAllocator {
 public:
  [[maybe_unused]] static const bool kNeedFree = true;
  explicit CountedStackAllocator(bool* exceeded = nullptr) : exceeded_(exceeded) {}
  void* Malloc(size_t size) { return size ? Grow(nullptr, size) : nullptr; }
  void* Realloc(void* original, size_t /*originalSize*/, size_t newSize) {
    if (newSize == 0) {
      std::free(original);
      return nullptr;
    }
    return Grow(original, newSize);
  }
  static void Free(void* pointer) { std::free(pointer); }

 private:
  void* Grow(void* original, size_t size) {
    if (size > kJsonValueMax && exceeded_) *exceeded_ = true;
    return std::realloc(original, size);
  }
  bool* exceeded_;
};

// The log's bytes as RapidJSON reads them, a block at a time; '\0' at the
// end (and once the parser's memory limit is passed).
class BlockStream {
 public:
  using Ch = char;
  BlockStream(SourceReader& reader, const bool& stop)
      : reader_(reader), stop_(stop), buffer_(std::make_unique<char[]>(kBlockSize + 1)) {
    current_ = last_ = buffer_.get();
    *current_ = '\0';
    Fill();
  }
  Ch Peek() const { return *current_; }
  Ch Take() {
    const Ch c = *current_;
    Next();
    return c;
  }
  size_t Tell() const { return size_t(consumed_ + (current_ - buffer_.get())); }
  bool AtEnd() const { return ended_ && current_ == last_; }
  // Not used: the document is never changed in place.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  size_t PutEnd(Ch*) { return 0; }

 private:
  void Next() {
    if (current_ < last_) {
      ++current_;
      if (current_ == last_ && !ended_) Fill();
    }
  }
  void Fill() {
    consumed_ += current_ - buffer_.get();
    current_ = buffer_.get();
    size_t got = 0;
    if (!stop_) {
      const ByteSource::Result result = reader_.Read(buffer_.get(), kBlockSize);
      got = result.size;
    }
    last_ = buffer_.get() + got;
    *last_ = '\0';
    if (got == 0) ended_ = true;
  }

  SourceReader& reader_;
  const bool& stop_;
  std::unique_ptr<char[]> buffer_;
  char* current_;
  char* last_;  // one past the bytes of the block; holds '\0'
  long long consumed_ = 0;
  bool ended_ = false;
};

class JsonHandler {
 public:
  JsonHandler(TrackPoints& points, ImportReport& report, const ImportOptions& options)
      : points_(points), report_(report), options_(options), wantsTimes_(points.WantsTimes()) {
    frames_.reserve(kJsonDepthMax + 1);
  }

  bool recognised() const { return recognised_; }
  const std::string& error() const { return error_; }
  void EndTrack() {
    if (run_ != 0) points_.EndTrack();
    run_ = 0;
  }

  bool Null() { return Other(); }
  bool Bool(bool) { return Other(); }
  bool Int(int value) { return Number(value); }
  bool Uint(unsigned value) { return Number(value); }
  bool Int64(int64_t value) { return Number(double(value)); }
  bool Uint64(uint64_t value) { return Number(double(value)); }
  bool Double(double value) { return Number(value); }
  // Every number, as its JSON text (numbers are parsed as strings).
  bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
    const std::optional<double> value = ParseJsonNumber(std::string_view(text, length));
    if (!value) {
      error_ = "a number beyond the range of a double (" +
               Abridged(std::string_view(text, length)) + ")";
      return false;
    }
    return Number(*value);
  }

  bool String(const char* text, rapidjson::SizeType length, bool) {
    const std::string_view value(text, length);
    if (frames_.empty()) return true;
    Frame& top = frames_.back();
    if (top.array) {
      if (top.key == Name::kCoordinates) top.notNumbers = true;
      if (top.key == Name::kPosition && !top.excluded) AddText(top, value);
      return true;
    }
    switch (key_) {
      case Name::kLatE7:
      case Name::kLonE7:
      case Name::kAccuracy:
      case Name::kOffsetMin:
        if (const std::optional<double> number = ParseNumber(value)) return Number(*number);
        break;
      case Name::kTime:
      case Name::kStartTime:
        // Times are read only for the options that look at them.
        if (!wantsTimes_) break;
        if (const std::optional<double> seconds = ParseIsoTime(value))
          (key_ == Name::kTime ? top.time : top.startTime) = *seconds;
        break;
      case Name::kTimeMs: {
        if (!wantsTimes_) break;
        std::optional<double> ms = ParseDigits(value);
        if (!ms) ms = ParseNumber(value);
        if (ms) top.time = *ms / 1000;
        break;
      }
      case Name::kPosition:
        if (!top.excluded) AddText(top, value);
        break;
      case Name::kType:
      case Name::kKind:
        if (top.inProperties) {
          if (IsTrackPointProperty(key_ == Name::kType ? "type" : "kind", value))
            top.trackPoint = true;
        } else if (key_ == Name::kType) {
          if (value == "Feature") {
            top.feature = true;
          } else if (value != "FeatureCollection" && value != "GeometryCollection") {
            top.geometry = GeometryOf(value);
            if (top.geometry == Geometry::kArea && !top.excluded) ++report_.areas;
            // Its coordinates may have come first: they wait for this.
            if (heldGeometry_ == top.serial) PlaceHeld(top);
          }
        }
        break;
      default:
        break;
    }
    return true;
  }

  bool Key(const char* text, rapidjson::SizeType length, bool) {
    key_ = NameOf(std::string_view(text, length));
    if (!frames_.empty() && frames_.back().inProperties && key_ == Name::kTrackPoint)
      frames_.back().trackPoint = true;
    return true;
  }

  bool StartObject() { return Push(false); }
  bool StartArray() { return Push(true); }

  bool EndObject(rapidjson::SizeType) {
    const Frame frame = frames_.back();
    frames_.pop_back();
    if (heldGeometry_ == frame.serial) {
      report_.skipped += (long long)held_.size();  // coordinates of no geometry type
      DropHeld();
    }
    Frame* parent = frames_.empty() ? nullptr : &frames_.back();
    if (!frame.excluded) {
      if (!std::isnan(frame.latE7) && !std::isnan(frame.lonE7)) {
        recognised_ = true;
        Hand(frame, {frame.latE7 / 1e7, frame.lonE7 / 1e7});
      }
      for (int i = 0; i < frame.textCount; ++i) Hand(frame, frame.texts[i]);
    }
    if (frame.key == Name::kProperties && parent && !parent->array) {
      parent->trackPoint = parent->trackPoint || frame.trackPoint;
      if (!std::isnan(frame.time)) parent->time = frame.time;
    }
    if (frame.pointHeld && frame.feature && frame.trackPoint) PointFeature(frame, frame.point);
    return true;
  }

  bool EndArray(rapidjson::SizeType) {
    Frame frame = frames_.back();
    frames_.pop_back();
    if (frame.key != Name::kCoordinates) return true;
    if (frame.numbers > 0 && !frame.holdsPositions) {
      // An innermost array: one position, longitude first.
      if (frame.notNumbers || frame.numbers < 2) {
        ++report_.skipped;
      } else if (!Coordinate({frame.second, frame.first})) {
        return false;
      }
      if (!frames_.empty()) frames_.back().holdsPositions = true;
    } else if (frame.holdsPositions && !frames_.empty() && frames_.back().array) {
      frames_.back().holdsPositions = true;
    }
    return true;
  }

 private:
  bool Other() {
    if (!frames_.empty() && frames_.back().array && frames_.back().key == Name::kCoordinates)
      frames_.back().notNumbers = true;
    return true;
  }

  bool Number(double value) {
    if (frames_.empty()) return true;
    Frame& top = frames_.back();
    if (top.array) {
      if (top.key == Name::kCoordinates) {
        if (top.numbers == 0) top.first = value;
        if (top.numbers == 1) top.second = value;
        ++top.numbers;
      }
      return true;
    }
    switch (key_) {
      case Name::kLatE7:
        top.latE7 = value;
        break;
      case Name::kLonE7:
        top.lonE7 = value;
        break;
      case Name::kAccuracy:
        top.accuracy = value;
        break;
      case Name::kOffsetMin:
        top.offsetMinutes = value;
        break;
      case Name::kTimeMs:
        if (wantsTimes_) top.time = value / 1000;
        break;
      default:
        break;
    }
    return true;
  }

  bool Push(bool array) {
    if (frames_.size() >= size_t(kJsonDepthMax)) {
      error_ = "JSON nested deeper than " + std::to_string(kJsonDepthMax) + " levels";
      return false;
    }
    Frame frame;
    frame.array = array;
    frame.serial = ++serials_;
    if (!frames_.empty()) {
      const Frame& parent = frames_.back();
      frame.element = parent.array;
      frame.key = parent.array ? parent.key : key_;
      frame.excluded = parent.excluded || frame.key == Name::kExcluded;
      frame.inProperties = parent.inProperties || (!parent.array && key_ == Name::kProperties);
      // The numbers of a coordinates array come in arrays nested in it.
      if (parent.array && parent.key == Name::kCoordinates) {
        if (!array) frame.key = Name::kOther;
      }
    }
    key_ = Name::kOther;
    frames_.push_back(frame);
    return true;
  }

  void AddText(Frame& frame, std::string_view value) {
    const std::optional<std::pair<double, double>> position = ParsePositionText(value);
    if (!position) return;
    recognised_ = true;
    if (frame.array || frame.textCount == 2) {
      Hand(frame, {position->first, position->second});
    } else {
      frame.texts[frame.textCount++] = {position->first, position->second};
    }
  }

  // The time of a position of `frame`: its own, or an iOS segment's start
  // plus the position's offset in minutes.
  double TimeOf(const Frame& frame) const {
    if (!std::isnan(frame.time)) return frame.time;
    if (std::isnan(frame.offsetMinutes)) return kNoTime;
    for (auto at = frames_.rbegin(); at != frames_.rend(); ++at)
      if (!std::isnan(at->startTime)) return at->startTime + frame.offsetMinutes * 60;
    return kNoTime;
  }

  // A location-history position of the object `frame` (just closed, or an
  // open array): one of a series when it stands in an array (or is a
  // signal's position), else a track of its own.
  void Hand(const Frame& frame, Position position) {
    if (options_.maxAccuracyM > 0 && frame.accuracy > options_.maxAccuracyM) {
      ++report_.coarse;
      return;
    }
    unsigned run = 0;
    if (frame.array) {
      run = frame.serial;
    } else if (frame.element || frame.key == Name::kSignal) {
      for (auto at = frames_.rbegin(); at != frames_.rend() && run == 0; ++at)
        if (at->array) run = at->serial;
    }
    if (run == 0) run = ++serials_;  // a track of its own
    Add(run, position, frame.array ? kNoTime : TimeOf(frame));
  }

  void Add(unsigned run, Position position, double seconds) {
    if (run != run_) EndTrack();
    run_ = run;
    if (points_.Add(position.lat, position.lon, seconds)) ++report_.fixes;
  }

  // The geometry object that holds the coordinates array open at the top.
  Frame* GeometryFrame() {
    for (auto at = frames_.rbegin(); at != frames_.rend(); ++at)
      if (!at->array) return &*at;
    return nullptr;
  }

  // The feature object around `geometry`, when there is one.
  Frame* FeatureOf(Frame* geometry) {
    for (Frame* at = geometry; at > frames_.data();) {
      --at;
      if (!at->array && at->feature) return at;
    }
    return nullptr;
  }

  // A position of the coordinates array that just closed. False when it
  // cannot be held until its geometry's type is known.
  bool Coordinate(Position position) {
    Frame* geometry = GeometryFrame();
    if (!geometry || geometry->excluded) return true;
    // The array around the position: one line.
    const unsigned line = frames_.back().serial;
    if (geometry->geometry != Geometry::kNone) {
      Place(*geometry, position, line);
      return true;
    }
    // JSON members have no order: writers that sort them put
    // "coordinates" before "type". The positions wait, bounded.
    if (heldGeometry_ != geometry->serial) {
      DropHeld();
      heldGeometry_ = geometry->serial;
    }
    if (held_.size() >= kJsonHeldPositionsMax) {
      error_ = "a GeoJSON geometry whose \"type\" comes after more than " +
               std::to_string(kJsonHeldPositionsMax) + " positions";
      return false;
    }
    held_.push_back({position, line});
    return true;
  }

  // Hands on a position of `geometry` (open, in frames_) by its type.
  void Place(Frame& geometry, Position position, unsigned line) {
    switch (geometry.geometry) {
      case Geometry::kLine:
        recognised_ = true;
        Add(line, position, kNoTime);
        break;
      case Geometry::kPoint:
      case Geometry::kMultiPoint: {
        recognised_ = true;
        Frame* feature = FeatureOf(&geometry);
        // A feature may name its "type" after its geometry: the object
        // that holds the geometry is then the feature to be.
        if (!feature && &geometry > frames_.data() && !(&geometry - 1)->array)
          feature = &geometry - 1;
        if (!feature) break;  // a bare geometry: a place
        if (feature->feature && feature->trackPoint) {
          PointFeature(*feature, position);
        } else if (geometry.geometry == Geometry::kPoint && !feature->pointHeld) {
          feature->pointHeld = true;  // its properties, or its "type", may come after it
          feature->point = position;
        }
        break;
      }
      case Geometry::kNone:
      case Geometry::kOther:
        ++report_.skipped;  // not a geometry that holds tracks
        break;
      case Geometry::kArea:
        break;  // counted once, with its type
    }
  }

  // The held positions of `geometry`, whose type has just come.
  void PlaceHeld(Frame& geometry) {
    for (const HeldPosition& held : held_) Place(geometry, held.position, held.line);
    DropHeld();
  }

  void DropHeld() {
    held_.clear();
    if (held_.capacity() > kHeldKeptCapacity) held_.shrink_to_fit();
    heldGeometry_ = 0;
  }

  // A track point of the feature `feature` (open, in frames_, or just
  // closed): consecutive ones of a collection make a track.
  void PointFeature(const Frame& feature, Position position) {
    const Frame* below = frames_.data() + frames_.size();
    if (&feature >= frames_.data() && &feature < below) below = &feature;
    unsigned run = 0;
    // The array of features, when the feature stands in one.
    if (feature.element && below > frames_.data() && below[-1].array) run = below[-1].serial;
    // A feature of its own (one of a sequence) continues the last run.
    if (run == 0) run = run_ != 0 && pointRun_ == run_ ? run_ : ++serials_;
    Add(run, position, feature.time);
    pointRun_ = run;
  }

  TrackPoints& points_;
  ImportReport& report_;
  const ImportOptions& options_;
  const bool wantsTimes_;  // an option looks at times: they are read
  std::vector<Frame> frames_;
  Name key_ = Name::kOther;  // the member name just read
  unsigned serials_ = 0;
  unsigned run_ = 0;  // the track positions go to; 0: none yet
  unsigned pointRun_ = 0;
  bool recognised_ = false;
  std::string error_;
  // Positions of the geometry (its frame's serial) whose type has not come.
  std::vector<HeldPosition> held_;
  unsigned heldGeometry_ = 0;
};

}  // namespace

std::optional<std::pair<double, double>> ParsePositionText(std::string_view text) {
  std::string_view rest = text;
  const bool uri = rest.substr(0, 4) == "geo:";
  if (uri) {
    rest.remove_prefix(4);
    rest = rest.substr(0, rest.find(';'));
  }
  const size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view latText = rest.substr(0, comma);
  std::string_view lonText = rest.substr(comma + 1);
  if (uri) {
    // An altitude may follow as a third value.
    lonText = lonText.substr(0, lonText.find(','));
  } else {
    const auto dropDegree = [](std::string_view& part) {
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      if (part.size() >= 2 && part.substr(part.size() - 2) == kDegreeSign) part.remove_suffix(2);
    };
    dropDegree(latText);
    dropDegree(lonText);
    // Text without degree signs is a position only when it says so.
    if (text.find(kDegreeSign) == std::string_view::npos) return std::nullopt;
  }
  const std::optional<double> lat = ParseNumber(latText);
  const std::optional<double> lon = ParseNumber(lonText);
  if (!lat || !lon || std::fabs(*lat) > 90 || std::fabs(*lon) > 180) return std::nullopt;
  return std::make_pair(*lat, *lon);
}

bool IsTrackPointProperty(std::string_view name, std::string_view stringValue) {
  if (name == "track_fid" || name == "track_seg_id" || name == "track_seg_point_id") return true;
  return (name == "type" || name == "kind") &&
         (stringValue == "trackpoint" || stringValue == "track_point");
}

void ReadJsonLog(TrackRecorder& recorder, ByteSource& source, ImportReport& report,
                 const ImportOptions& options) {
  SourceReader reader(source, report, options);
  TrackPoints points(recorder, options, report);
  bool tooLarge = false;
  BlockStream stream(reader, tooLarge);
  JsonHandler handler(points, report, options);
  CountedStackAllocator allocator(&tooLarge);
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, CountedStackAllocator> parser(
      &allocator);
  // Numbers come as their text and are converted here (RawNumber): the
  // parser's own conversion of a long number is not safe.
  constexpr unsigned kFlags =
      rapidjson::kParseStopWhenDoneFlag | rapidjson::kParseNumbersAsStringsFlag;
  for (;;) {
    // Between JSON texts: white space and the separators of a sequence.
    for (char c = stream.Peek(); c == ' ' || c == '\n' || c == '\r' || c == '\t' ||
                                 c == kRecordSeparator;
         c = stream.Peek())
      stream.Take();
    if (stream.AtEnd()) break;
    const rapidjson::ParseResult result = parser.Parse<kFlags>(stream, handler);
    if (result) continue;
    // A read error or a cancel leaves the document unfinished; that is no
    // fault of the JSON.
    if (report.readError || report.cancelled) break;
    report.readError = true;
    const std::string at = " at byte " + std::to_string(result.Offset());
    if (tooLarge) {
      report.readErrorText = "malformed JSON" + at + ": a string or number longer than " +
                             std::to_string(kJsonValueMax >> 20) + " MiB";
    } else if (!handler.error().empty()) {
      report.readErrorText = handler.error() + at;
    } else {
      report.readErrorText =
          "malformed JSON" + at + ": " + rapidjson::GetParseError_En(result.Code());
    }
    break;
  }
  handler.EndTrack();
  if (!handler.recognised() && !report.readError && !report.cancelled) {
    if (report.areas > 0) {
      // Said in a folder too: it is GeoJSON, only not of tracks.
      report.readError = true;
      report.readErrorText = "this GeoJSON holds only areas (" + std::to_string(report.areas) +
                             " Polygon or MultiPolygon), and areas are not imported";
    } else if (options.onlyLogs) {
      report.notRecognised = true;
    } else {
      report.readError = true;
      report.readErrorText = "no location history or GeoJSON track found in this JSON";
    }
  }
}

}  // namespace roamgrid
