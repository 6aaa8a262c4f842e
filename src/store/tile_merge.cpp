#include "store/tile_merge.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "common/safe_file.h"
#include "common/text.h"
#include "tiles/tile_file.h"
#include "tiles/track_tile.h"

namespace roamgrid {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// `text` from `at` is `count` characters that `accept` takes.
template <class Accept>
bool All(const std::string& text, size_t at, size_t count, Accept accept) {
  if (at + count > text.size()) return false;
  for (size_t i = at; i < at + count; ++i)
    if (!accept(text[i])) return false;
  return true;
}

constexpr size_t kStemLength = 13;  // E13970-N03560
constexpr char kTileSuffix[] = ".map";

// A tile file that loads whole: a header, then a code stream that describes
// every group.
bool LoadsWhole(const uint8_t* bytes, size_t size) {
  struct Ignore {
    void Run(int, int) {}
    void Literal(int, uint8_t) {}
  } ignore;
  return size >= kTileHeaderSize && bytes[0] == 0x00 &&
         WalkCodeStream(bytes + kTileHeaderSize, size - kTileHeaderSize, ignore) == kLoaded;
}

}  // namespace

TileMerge MergeTileFile(const std::string& sourcePath, int32_t latKey, int32_t lonKey) {
  TileMerge merge;
  // The two files' bytes, read into buffers kept for the thread's next
  // tile: a merge reads hundreds of tiles, and fresh buffers for each
  // would be handed back to the system and faulted in again every time.
  thread_local const std::unique_ptr<uint8_t[]> source =
      std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  thread_local const std::unique_ptr<uint8_t[]> stored =
      std::make_unique_for_overwrite<uint8_t[]>(kMaxTileFileSize);
  const long size = ReadTileFile(sourcePath.c_str(), source.get(), &merge.error);
  if (size < 0) {
    merge.outcome = TileMerge::Outcome::kSourceUnreadable;
    return merge;
  }
  // The store's tile as LoadTile reads it, kept for the save's change
  // check; only its bytes, since the merge works on the code streams.
  TrackTile tile;
  tile.latKey = latKey;
  tile.lonKey = NormalizeLonKey(lonKey);
  FormatTilePath(tile.latKey, tile.lonKey, tile.path);
  int error = 0;
  const long storedSize = ReadTileFile(tile.path, stored.get(), &error, &tile.held);
  // A missing tile is an empty one.
  static const std::vector<uint8_t> kEmptyTile =
      EncodeTile(0, 0, std::vector<uint8_t>(kCellCount).data());
  const uint8_t* first = storedSize < 0 ? kEmptyTile.data() : stored.get();
  const size_t firstSize = storedSize < 0 ? kEmptyTile.size() : size_t(storedSize);
  // Only a copy that loads whole is taken: a damaged one may hold anything.
  // Saving over a damaged tile would drop what lies past the damage. The
  // OR tells both while it reads the streams; where it cannot run, the
  // copy is read for its own sake.
  const bool storedReadable = storedSize >= 0 || error == ENOENT;
  const bool firstHeader = firstSize >= kTileHeaderSize && first[0] == 0x00;
  bool sourceWhole = false;
  bool firstWhole = false;
  std::vector<uint8_t> merged;
  if (storedReadable && firstHeader) {
    merged = OrTileFiles(first, firstSize, source.get(), size_t(size), &merge.newCells,
                         &sourceWhole, &firstWhole);
  } else {
    sourceWhole = LoadsWhole(source.get(), size_t(size));
  }
  if (!sourceWhole) {
    merge.newCells = 0;
    merge.outcome = TileMerge::Outcome::kSourceDamaged;
    return merge;
  }
  if (!storedReadable) {
    merge.error = error;
    merge.outcome = TileMerge::Outcome::kTileUnreadable;
    return merge;
  }
  if (!firstHeader || !firstWhole) {
    merge.newCells = 0;
    merge.outcome = TileMerge::Outcome::kTileDamaged;
    return merge;
  }
  if (storedSize >= 0) {
    tile.fileSeen = TrackTile::FileSeen::kBytes;
    tile.fileBytes.assign(stored.get(), stored.get() + storedSize);
  } else {
    tile.fileSeen = TrackTile::FileSeen::kAbsent;
  }
  // Nothing to add (a copy of no marks makes no tile file either).
  if (merge.newCells == 0 && merged[1] == first[1] && merged[2] == first[2]) return merge;
  if (!SaveTileBytes(tile, std::move(merged))) {
    merge.error = errno;
    merge.outcome = TileMerge::Outcome::kNotSaved;
    return merge;
  }
  merge.outcome = TileMerge::Outcome::kMerged;
  return merge;
}

std::optional<std::string> ConflictCopyOf(const std::string& name) {
  if (name.size() <= kStemLength) return {};
  const std::string stem = name.substr(0, kStemLength);
  const std::string tile = stem + kTileSuffix;
  const std::string rest = name.substr(kStemLength);
  // Copies of the whole name.
  if (rest == ".map.orig" || rest == ".map~") return tile;
  // Syncthing: .sync-conflict-YYYYMMDD-HHMMSS-XXXXXXX.map
  const std::string sync = ".sync-conflict-";
  if (rest.size() == sync.size() + 8 + 1 + 6 + 1 + 7 + 4 &&
      rest.compare(0, sync.size(), sync) == 0 && std::string_view(rest).ends_with(kTileSuffix)) {
    const size_t at = sync.size();
    const auto alnum = [](char c) {
      return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    if (All(rest, at, 8, IsDigit) && rest[at + 8] == '-' && All(rest, at + 9, 6, IsDigit) &&
        rest[at + 15] == '-' && All(rest, at + 16, 7, alnum))
      return tile;
    return {};
  }
  // Dropbox and Nextcloud: " (... conflicted copy ...).map"
  if (rest.size() > 2 + 4 && rest.compare(0, 2, " (") == 0 &&
      std::string_view(rest).ends_with(").map") &&
      rest.find("conflicted copy") != std::string::npos)
    return tile;
  return {};
}

std::string TileMergeProblem(const TileMerge& merge, const std::string& tilePath) {
  const std::string reason = merge.error ? ": " + FileErrorText(merge.error) : "";
  switch (merge.outcome) {
    case TileMerge::Outcome::kSourceUnreadable:
      // A link, a pipe or a device where a tile file stands.
      if (merge.error == EINVAL) return FileErrorText(merge.error);
      return "cannot be read" + reason;
    case TileMerge::Outcome::kSourceDamaged:
      return "damaged";
    case TileMerge::Outcome::kTileUnreadable:
      return "the tile file " + Quoted(tilePath) + " cannot be read" + reason;
    case TileMerge::Outcome::kTileDamaged:
      return "the tile file " + Quoted(tilePath) + " is damaged (see check)";
    case TileMerge::Outcome::kNotSaved:
      return "cannot write the tile file " + Quoted(tilePath) + reason;
    case TileMerge::Outcome::kMerged:
    case TileMerge::Outcome::kUnchanged:
      break;
  }
  return {};
}

}  // namespace roamgrid
