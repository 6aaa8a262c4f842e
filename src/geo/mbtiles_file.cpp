#include "geo/mbtiles_file.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <optional>
#include <utility>

namespace roamgrid {
namespace {

// An SQLite URI naming `path` exactly: characters that a URI gives a
// meaning to are percent-encoded, and an absolute path behind "file://"
// keeps a path beginning "//" from reading as a host.
std::string FileUri(const std::string& path) {
  std::error_code failure;
  std::filesystem::path absolute = std::filesystem::absolute(path, failure);
  const std::string full = failure ? path : absolute.string();
  std::string uri = "file://";
  static const char kHex[] = "0123456789ABCDEF";
  for (const char c : full) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '%' || byte == '?' || byte == '#' || byte < 0x21 || byte >= 0x7F) {
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    } else {
      uri += c;
    }
  }
  // mode=ro: never write; immutable=1: no lock, no journal, no -wal file.
  return uri + "?mode=ro&immutable=1";
}

// Statements count steps in these units between looks at their bounds.
constexpr int kProgressSteps = 1000;
constexpr const char* kTooSlow = "the MBTiles file does not answer in time";

std::optional<int> ZoomValue(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const char* begin = text.data();
  const char* end = begin + text.size();
  int value = 0;
  const auto [stop, ec] = std::from_chars(begin, end, value);
  if (ec != std::errc() || stop != end || value < 0 || value > kMaxMapTileZoom) {
    return std::nullopt;
  }
  return value;
}

// Appends code point `c` as UTF-8.
void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The text an entity body (between '&' and ';') stands for; empty when it
// is none the attribution text knows.
std::string DecodeEntity(std::string_view name) {
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"},  {"lt", "<"},   {"gt", ">"},        {"quot", "\""},
      {"apos", "'"}, {"nbsp", " "}, {"copy", "\u00A9"},
  };
  for (const auto& [known, text] : kNamed) {
    if (name == known) return std::string(text);
  }
  if (name.size() < 2 || name[0] != '#') return {};
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  uint32_t code = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
  if (error != std::errc() || end != digits.data() + digits.size()) return {};
  // Control characters, surrogates and what lies beyond Unicode stand for
  // nothing legible.
  if (code < 0x20 || (code >= 0x7F && code < 0xA0) || (code >= 0xD800 && code < 0xE000) ||
      code > 0x10FFFF) {
    return {};
  }
  std::string text;
  AppendUtf8(text, code);
  return text;
}

bool IsTagStart(std::string_view text, size_t at) {
  if (at + 1 >= text.size()) return false;
  const auto next = static_cast<unsigned char>(text[at + 1]);
  return std::isalpha(next) || next == '/' || next == '!' || next == '?';
}

}  // namespace

std::string AttributionPlainText(std::string_view html) {
  size_t cut = std::min(html.size(), MbtilesFile::kMaxAttributionBytes);
  // Not inside a character: back to the start of one cut through.
  while (cut > 0 && cut < html.size() && (static_cast<unsigned char>(html[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  const std::string_view text = html.substr(0, cut);
  std::string flat;
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == '<' && IsTagStart(text, at)) {
      const size_t close = text.find('>', at);
      if (close == std::string_view::npos) break;  // cut inside a tag
      size_t name = at + 1 + (text[at + 1] == '/');
      std::string tag;
      while (name < close && std::isalpha(static_cast<unsigned char>(text[name]))) {
        tag += static_cast<char>(std::tolower(static_cast<unsigned char>(text[name++])));
      }
      if (tag == "br" || tag == "p" || tag == "div" || tag == "li") flat += ' ';
      at = close + 1;
      continue;
    }
    if (c == '&') {
      const size_t semicolon = text.find(';', at);
      if (semicolon != std::string_view::npos && semicolon - at <= 10) {
        const std::string decoded = DecodeEntity(text.substr(at + 1, semicolon - at - 1));
        if (!decoded.empty()) {
          flat += decoded;
          at = semicolon + 1;
          continue;
        }
      }
    }
    const auto byte = static_cast<unsigned char>(c);
    flat += byte < 0x20 || byte == 0x7F ? ' ' : c;
    ++at;
  }
  std::string line;
  for (const char c : flat) {
    if (c == ' ' && (line.empty() || line.back() == ' ')) continue;
    line += c;
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void MbtilesFile::Arm() {
  stepsLeft_ = kMaxStatementSteps;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kMaxStatementMs);
}

int MbtilesFile::OnProgress(void* context) {
  auto* file = static_cast<MbtilesFile*>(context);
  file->stepsLeft_ -= kProgressSteps;
  // Non-zero interrupts the statement (SQLITE_INTERRUPT).
  return file->stepsLeft_ < 0 || std::chrono::steady_clock::now() > file->deadline_;
}

int MbtilesFile::Step(sqlite3_stmt* statement) {
  Arm();
  return sqlite3_step(statement);
}

std::string MbtilesFile::Metadata(const char* name, bool& interrupted) {
  Arm();
  sqlite3_stmt* query = nullptr;
  std::string value;
  const int prepared =
      sqlite3_prepare_v2(db_, "SELECT value FROM metadata WHERE name = ?1", -1, &query, nullptr);
  if (prepared == SQLITE_INTERRUPT) interrupted = true;
  if (prepared == SQLITE_OK) {
    sqlite3_bind_text(query, 1, name, -1, SQLITE_STATIC);
    const int result = Step(query);
    if (result == SQLITE_INTERRUPT) interrupted = true;
    const auto* text = result == SQLITE_ROW ? sqlite3_column_text(query, 0) : nullptr;
    if (text != nullptr) value = reinterpret_cast<const char*>(text);
  }
  sqlite3_finalize(query);
  return value;
}

std::unique_ptr<MbtilesFile> MbtilesFile::Open(const std::string& path, std::string& error) {
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    error = "no such file";
    return nullptr;
  }
  std::unique_ptr<MbtilesFile> file(new MbtilesFile());
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
  if (sqlite3_open_v2(FileUri(path).c_str(), &file->db_, flags, nullptr) != SQLITE_OK) {
    error = file->db_ ? sqlite3_errmsg(file->db_) : "cannot open";
    return nullptr;
  }
  sqlite3* db = file->db_;
  // No value larger than a tile is ever loaded: a larger one is an error
  // (SQLITE_TOOBIG) before any memory is taken for it.
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kMaxTileBytes);
  sqlite3_progress_handler(db, kProgressSteps, &MbtilesFile::OnProgress, file.get());
  const auto tooSlow = [&] {
    error = kTooSlow;
    return nullptr;
  };
  const auto notMbtiles = [&] {
    error = std::string("not an MBTiles file (") + sqlite3_errmsg(db) + ")";
    return nullptr;
  };

  // Which of `tiles` or `map` and `images` the file has, as tables or views.
  int found = 0;  // bit 1: tiles, bit 2: map, bit 4: images
  sqlite3_stmt* schema = nullptr;
  file->Arm();
  int result = sqlite3_prepare_v2(db,
                                  "SELECT lower(name) FROM sqlite_master WHERE type IN ('table', "
                                  "'view') AND lower(name) IN ('tiles', 'map', 'images')",
                                  -1, &schema, nullptr);
  if (result == SQLITE_OK) {
    while ((result = file->Step(schema)) == SQLITE_ROW) {
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(schema, 0));
      const std::string_view table = name ? name : "";
      found |= table == "tiles" ? 1 : table == "map" ? 2 : table == "images" ? 4 : 0;
    }
  }
  sqlite3_finalize(schema);
  if (result == SQLITE_INTERRUPT) return tooSlow();
  if (result != SQLITE_DONE) return notMbtiles();
  const char* query =
      (found & 1) ? "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND "
                    "tile_row = ?3"
      : (found & 6) == 6
          ? "SELECT images.tile_data FROM map JOIN images ON images.tile_id = map.tile_id "
            "WHERE map.zoom_level = ?1 AND map.tile_column = ?2 AND map.tile_row = ?3"
          : nullptr;
  if (query == nullptr) {
    error = "not an MBTiles file (no tiles table)";
    return nullptr;
  }
  file->Arm();
  result = sqlite3_prepare_v2(db, query, -1, &file->tileQuery_, nullptr);
  if (result == SQLITE_INTERRUPT) return tooSlow();
  if (result != SQLITE_OK) return notMbtiles();

  bool interrupted = false;
  if (file->Metadata("format", interrupted) == "pbf") {
    error = "holds vector tiles, not images";
    return nullptr;
  }
  std::optional<int> minZoom = ZoomValue(file->Metadata("minzoom", interrupted));
  std::optional<int> maxZoom = ZoomValue(file->Metadata("maxzoom", interrupted));
  file->attribution_ = AttributionPlainText(file->Metadata("attribution", interrupted));
  if (interrupted) return tooSlow();
  if (!minZoom || !maxZoom) {
    // Quick with the usual index; a file without one may run past the
    // bounds here, and then keeps the whole range.
    sqlite3_stmt* range = nullptr;
    file->Arm();
    const char* rangeQuery = (found & 1) ? "SELECT MIN(zoom_level), MAX(zoom_level) FROM tiles"
                                         : "SELECT MIN(zoom_level), MAX(zoom_level) FROM map";
    if (sqlite3_prepare_v2(db, rangeQuery, -1, &range, nullptr) == SQLITE_OK &&
        file->Step(range) == SQLITE_ROW) {
      const auto text = [&](int column) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(range, column));
        return std::string(value ? value : "");
      };
      if (!minZoom) minZoom = ZoomValue(text(0));
      if (!maxZoom) maxZoom = ZoomValue(text(1));
    }
    sqlite3_finalize(range);
  }
  file->minZoom_ = minZoom.value_or(0);
  file->maxZoom_ = std::max(file->minZoom_, maxZoom.value_or(kMaxMapTileZoom));

  // The probe: the tile query must answer, found or not, within the bounds.
  file->ReadTile({file->minZoom_, 0, 0});
  if (file->failed()) {
    error = file->failure_;
    return nullptr;
  }
  return file;
}

MbtilesFile::~MbtilesFile() {
  sqlite3_finalize(tileQuery_);
  sqlite3_close(db_);
}

std::vector<uint8_t> MbtilesFile::ReadTile(const MapTileKey& tile) {
  std::vector<uint8_t> bytes;
  if (failed() || tile.zoom < 0 || tile.zoom > kMaxMapTileZoom) return bytes;
  sqlite3_reset(tileQuery_);
  sqlite3_bind_int(tileQuery_, 1, tile.zoom);
  sqlite3_bind_int(tileQuery_, 2, tile.x);
  sqlite3_bind_int(tileQuery_, 3, (1 << tile.zoom) - 1 - tile.y);
  const int result = Step(tileQuery_);
  if (result == SQLITE_ROW) {
    const void* data = sqlite3_column_blob(tileQuery_, 0);
    const int size = sqlite3_column_bytes(tileQuery_, 0);
    if (data != nullptr && size > 0 && size <= kMaxTileBytes) {
      const auto* begin = static_cast<const uint8_t*>(data);
      bytes.assign(begin, begin + size);
    }
  } else if (result == SQLITE_INTERRUPT) {
    failure_ = kTooSlow;
  } else if (result != SQLITE_DONE && result != SQLITE_TOOBIG) {
    // A tile too large is only that tile; anything else is the file.
    failure_ = std::string("cannot read the MBTiles file (") + sqlite3_errmsg(db_) + ")";
  }
  sqlite3_reset(tileQuery_);
  return bytes;
}

}  // namespace roamgrid
