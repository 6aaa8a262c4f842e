#include "app/tile_layer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>

#include "geo/mbtiles_file.h"
#include "geo/tile_sampling.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

constexpr int kMaxTileSide = 1024;      // larger images are not map tiles
constexpr int kMemoryTiles = 128;       // decoded tiles kept beyond the views, 256 KiB each
constexpr int kMaxViewTiles = 64;       // more only when a source lacks coarse zooms
// What a reply may hold unread: the network is read no faster than the
// layer takes the bytes, so an endless body never piles up in memory.
constexpr qint64 kReadBufferBytes = 64 * 1024;

// The disk cache of the online tiles: whatever the server says, a tile is
// kept fresh for at least kMinKeepDays days from its download or its last
// revalidation; a later server date wins.
class TileDiskCache : public QNetworkDiskCache {
 public:
  using QNetworkDiskCache::QNetworkDiskCache;
  QIODevice* prepare(const QNetworkCacheMetaData& metaData) override {
    return QNetworkDiskCache::prepare(KeepAtLeastAWeek(metaData));
  }
  void updateMetaData(const QNetworkCacheMetaData& metaData) override {
    QNetworkDiskCache::updateMetaData(KeepAtLeastAWeek(metaData));
  }

 private:
  static QNetworkCacheMetaData KeepAtLeastAWeek(QNetworkCacheMetaData metaData) {
    const QDateTime floor = QDateTime::currentDateTimeUtc().addDays(TileLayer::kMinKeepDays);
    if (!metaData.expirationDate().isValid() || metaData.expirationDate() < floor) {
      metaData.setExpirationDate(floor);
    }
    return metaData;
  }
};

// A tile image as 256 x 256 premultiplied ARGB; null when the bytes are no
// image or one too large to be a tile. `opaque` tells whether the image
// had no alpha channel.
QImage DecodeTile(QByteArray bytes, bool& opaque) {
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  // Naming the usual formats spares the reader asking every image plugin.
  const QByteArray format = bytes.startsWith("\x89PNG")    ? QByteArray("png")
                            : bytes.startsWith("\xFF\xD8") ? QByteArray("jpeg")
                                                           : QByteArray();
  QImageReader reader(&buffer, format);
  reader.setAutoDetectImageFormat(format.isEmpty());
  const QSize size = reader.size();
  if (size.isValid() && (size.width() > kMaxTileSide || size.height() > kMaxTileSide)) return {};
  QImage image = reader.read();
  if (image.isNull() || image.width() > kMaxTileSide || image.height() > kMaxTileSide) return {};
  opaque = !image.hasAlphaChannel();
  if (image.size() != QSize(kMapTilePixels, kMapTilePixels)) {
    image = image.scaled(kMapTilePixels, kMapTilePixels, Qt::IgnoreAspectRatio,
                         Qt::SmoothTransformation);
  }
  return std::move(image).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QString HostKey(const QUrl& url) { return url.host() + ':' + QString::number(url.port(-1)); }

// The file of tile servers that moved for good, beside the tile cache.
QString MovedOriginsPath() {
  return QFileInfo(TileLayer::CacheFolder()).path() + "/tile-servers-moved.txt";
}

MovedOrigins LoadMovedOrigins() {
  QFile file(MovedOriginsPath());
  if (!file.open(QIODevice::ReadOnly)) return {};
  return MovedOrigins::Parse(file.read(MovedOrigins::kMaxTextBytes).toStdString());
}

// A cache: losing it costs one redirect per moved server, so a failed
// write is let go.
void SaveMovedOrigins(const MovedOrigins& moved) {
  QDir().mkpath(QFileInfo(MovedOriginsPath()).path());
  QSaveFile file(MovedOriginsPath());
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(QByteArray::fromStdString(moved.Format()));
  file.commit();
}

}  // namespace

size_t qHash(const MapTileKey& key, size_t seed) {
  return ::qHash(quint64(key.zoom) << 58 ^ quint64(key.x) << 29 ^ quint64(key.y), seed);
}

TileLayer::TileLayer(QObject* parent) : QObject(parent), memory_(kMemoryTiles) {
  pauseEnd_ = new QTimer(this);
  pauseEnd_->setSingleShot(true);
  connect(pauseEnd_, &QTimer::timeout, this, &TileLayer::StartRequests);
}

TileLayer::~TileLayer() {
  // Replies still running end here, without calling back into a layer
  // half destroyed.
  if (network_) {
    for (QNetworkReply* reply : network_->findChildren<QNetworkReply*>()) reply->disconnect(this);
    delete network_;
  }
}

QString TileLayer::CacheFolder() {
  QString base = qEnvironmentVariable("XDG_CACHE_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + "/.cache";
  return base + "/roamgrid/tiles";
}

void TileLayer::Reset() {
  for (QNetworkReply* reply :
       network_ ? network_->findChildren<QNetworkReply*>() : QList<QNetworkReply*>()) {
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
  }
  pending_.clear();
  follows_.clear();
  source_ = TileSource{};
  mbtiles_.reset();
  memory_.clear();
  queue_.clear();
  inFlight_.clear();
  missing_.clear();
  hosts_.clear();
  // The Web Mercator view stays; it is planned anew for the new source.
  mercatorPlan_ = MercatorTilePlan{};
  mercatorKeys_.clear();
  pauseEnd_->stop();
  status_.clear();
  attribution_.clear();
  image_ = QImage();
  haveView_ = false;
  covers_ = false;
  minZoom_ = 0;
  maxZoom_ = kMaxMapTileZoom;
}

bool TileLayer::SetSource(const QString& source, const QString& attribution) {
  Reset();
  attribution_ = attribution.trimmed();
  TileSource parsed;
  std::string error;
  if (!ParseTileSource(source.toStdString(), parsed, error)) {
    status_ = "tiles: " + QString::fromStdString(error);
    if (haveMercator_) emit tilesArrived();
    return false;
  }
  if (parsed.kind == TileSource::Kind::kMbtiles) {
    mbtiles_ = MbtilesFile::Open(
        QFile::encodeName(QString::fromStdString(parsed.text)).toStdString(), error);
    if (!mbtiles_) {
      status_ = "tiles: " + QString::fromStdString(error);
      if (haveMercator_) emit tilesArrived();
      return false;
    }
    minZoom_ = mbtiles_->minZoom();
    maxZoom_ = mbtiles_->maxZoom();
    // Already plain text, cut short before its markup was read.
    if (attribution_.isEmpty()) attribution_ = QString::fromStdString(mbtiles_->attribution());
  }
  if (parsed.kind == TileSource::Kind::kUrlTemplate && network_ == nullptr) {
    network_ = new QNetworkAccessManager(this);
    diskCache_ = new TileDiskCache(network_);
    diskCache_->setCacheDirectory(CacheFolder());
    diskCache_->setMaximumCacheSize(cacheLimitBytes_);
    network_->setCache(diskCache_);
    moved_ = LoadMovedOrigins();
  }
  source_ = std::move(parsed);
  if (haveMercator_) {
    PlanMercator();
    pauseEnd_->start(0);
    emit tilesArrived();
  }
  return true;
}

void TileLayer::SetCacheLimitMiB(int mebibytes) {
  cacheLimitBytes_ = qint64{std::max(mebibytes, 1)} << 20;
  if (diskCache_) diskCache_->setMaximumCacheSize(cacheLimitBytes_);
}

void TileLayer::SetTimeoutMs(int milliseconds) { timeoutMs_ = milliseconds; }

void TileLayer::SetRequestTimeLimitMs(int milliseconds) { requestLimitMs_ = milliseconds; }

QUrl TileLayer::TileAddress(const MapTileKey& tile) const {
  return QUrl(QString::fromStdString(moved_.Apply(TileUrl(source_, tile))));
}

void TileLayer::DropFailedFile() {
  if (!mbtiles_ || !mbtiles_->failed()) return;
  const QString why = QString::fromStdString(mbtiles_->failure());
  // Off for the run: nothing more is read from the file, and what was read
  // goes too, so the view does not show half a map.
  mbtiles_.reset();
  memory_.clear();
  Compose();
  SetStatus("tiles: " + why + "; tiles off for this run");
}

bool TileLayer::TileAtHand(const MapTileKey& tile, bool* stale) {
  *stale = false;
  if (const MemoryTile* kept = memory_.object(tile)) {
    *stale = kept->keepUntil.isValid() && kept->keepUntil < QDateTime::currentDateTimeUtc();
    return true;
  }
  QByteArray bytes;
  QDateTime keepUntil;
  if (mbtiles_) {
    const std::vector<uint8_t> data = mbtiles_->ReadTile(tile);
    bytes = QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size()));
  } else if (diskCache_ && source_.kind == TileSource::Kind::kUrlTemplate) {
    const QUrl url = TileAddress(tile);
    const QNetworkCacheMetaData metaData = diskCache_->metaData(url);
    if (metaData.isValid()) {
      std::unique_ptr<QIODevice> stored(diskCache_->data(url));
      if (stored) bytes = stored->readAll();
      keepUntil = metaData.expirationDate();
      *stale = !keepUntil.isValid() || keepUntil < QDateTime::currentDateTimeUtc();
    }
  }
  if (bytes.isEmpty()) return false;
  bool opaque = false;
  QImage image = DecodeTile(bytes, opaque);
  if (image.isNull()) return false;
  memory_.insert(tile, new MemoryTile{std::move(image), keepUntil, opaque});
  return true;
}

bool TileLayer::NeededBySquare(const MapTileKey& tile) const {
  return haveView_ && std::find(map_.tiles.begin(), map_.tiles.end(), tile) != map_.tiles.end();
}

bool TileLayer::NeededByMercator(const MapTileKey& tile) const {
  return haveMercator_ && mercatorKeys_.contains(tile);
}

void TileLayer::FitMemory() {
  // Room for both views and as many again of tiles seen lately.
  memory_.setMaxCost(kMemoryTiles + qsizetype(map_.tiles.size()) + mercatorKeys_.size());
}

void TileLayer::Enqueue(const std::vector<MapTileKey>& loadFrom) {
  queue_.clear();
  QSet<MapTileKey> queued;
  const bool online = source_.kind == TileSource::Kind::kUrlTemplate;
  const auto consider = [&](const MapTileKey& tile, bool load) {
    if (queued.contains(tile)) return;
    bool stale = false;
    // Tiles of the other view were read when it was set: memory decides.
    const MemoryTile* kept = load ? nullptr : memory_.object(tile);
    const bool atHand = load ? TileAtHand(tile, &stale) : kept != nullptr;
    if (kept) {
      stale = kept->keepUntil.isValid() && kept->keepUntil < QDateTime::currentDateTimeUtc();
    }
    if (online && (!atHand || stale) && !missing_.contains(tile) && !inFlight_.contains(tile)) {
      queue_.push_back(tile);
      queued.insert(tile);
    }
  };
  const std::vector<MapTileKey>& first = mercatorFirst_ ? mercatorPlan_.keys : map_.tiles;
  const std::vector<MapTileKey>& second = mercatorFirst_ ? map_.tiles : mercatorPlan_.keys;
  for (const MapTileKey& tile : first) consider(tile, &first == &loadFrom);
  for (const MapTileKey& tile : second) consider(tile, &second == &loadFrom);
}

void TileLayer::SetView(int32_t originLat, int32_t originLon, int zoomIndex) {
  if (!hasSource()) return;
  const int clampedZoom = std::clamp(zoomIndex, kMinZoomIndex, kMaxZoomIndex);
  if (haveView_ && originLat == viewLat_ && originLon == viewLon_ && clampedZoom == viewZoom_) {
    return;  // the same view: the picture stands, nothing to ask again
  }
  viewLat_ = originLat;
  viewLon_ = originLon;
  viewZoom_ = clampedZoom;
  haveView_ = true;
  mercatorFirst_ = false;
  const double span = kZoomSpans[clampedZoom];
  const double centreLat = (originLat + span / 2) / kGridPerDegree;
  const int tileZoom = ChooseTileZoom(kZoomSpans[clampedZoom], centreLat, minZoom_, maxZoom_);
  map_ = MapViewToTiles(originLat, originLon, clampedZoom, tileZoom);
  // Only a source whose coarsest zoom is far finer than the view asks for
  // this many; such a view shows no tiles rather than a flood of requests.
  if (map_.tiles.size() > kMaxViewTiles) map_.tiles.clear();
  FitMemory();
  Enqueue(map_.tiles);
  Compose();
  DropFailedFile();
  // Asked from the event loop: a source replaced before then (a start
  // option over the saved setting) has asked nothing.
  pauseEnd_->start(0);
}

void TileLayer::Compose() {
  if (image_.isNull()) {
    image_ = QImage(kRasterSide, kRasterSide, QImage::Format_ARGB32_Premultiplied);
  }
  covers_ = false;
  if (!haveView_ || map_.tiles.empty()) {
    image_.fill(Qt::transparent);
    return;
  }
  static_assert(sizeof(QRgb) == sizeof(Argb));
  bool opaque = true;
  const auto tileAt = [&](const MapTileKey& key) -> const Argb* {
    const MemoryTile* tile = memory_.object(key);
    if (tile == nullptr) return nullptr;
    opaque = opaque && tile->opaque;
    return reinterpret_cast<const Argb*>(tile->image.constBits());
  };
  // The image's lines are exactly 448 words: ARGB32 lines need no padding.
  const bool complete = ComposeViewTiles(map_, tileAt, reinterpret_cast<Argb*>(image_.bits()));
  covers_ = complete && opaque;
}

void TileLayer::PlanMercator() {
  mercatorPlan_ =
      hasSource() ? PlanMercatorTiles(mercatorView_, minZoom_, maxZoom_, size_t{kMaxMercatorTiles})
                  : MercatorTilePlan{};
  mercatorKeys_ = QSet<MapTileKey>(mercatorPlan_.keys.begin(), mercatorPlan_.keys.end());
  FitMemory();
  Enqueue(mercatorPlan_.keys);
  DropFailedFile();
}

const MercatorTilePlan& TileLayer::SetMercatorView(const MercatorView& view) {
  const auto same = [](const MercatorView& a, const MercatorView& b) {
    return a.centerX == b.centerX && a.centerY == b.centerY && a.zoom == b.zoom &&
           a.width == b.width && a.height == b.height;
  };
  if (haveMercator_ && same(view, mercatorView_)) return mercatorPlan_;
  haveMercator_ = true;
  mercatorFirst_ = true;
  mercatorView_ = view;
  PlanMercator();
  if (!queue_.empty()) pauseEnd_->start(0);
  return mercatorPlan_;
}

void TileLayer::ClearMercatorView() {
  haveMercator_ = false;
  mercatorFirst_ = false;
  mercatorPlan_ = MercatorTilePlan{};
  mercatorKeys_.clear();
  Enqueue({});
}

QImage TileLayer::TileImage(const MapTileKey& tile) const {
  const MemoryTile* kept = memory_.object(tile);
  return kept ? kept->image : QImage();
}

QImage TileLayer::TileImageOrCoarser(const MapTileKey& tile, QRectF* part) const {
  for (int levels = 0; levels <= std::min(kCoarserZooms, tile.zoom); ++levels) {
    const CoveringPart covering = CoveringTile(tile, levels);
    if (const MemoryTile* kept = memory_.object(covering.key)) {
      if (part) *part = QRectF(covering.x, covering.y, covering.side, covering.side);
      return kept->image;
    }
  }
  return QImage();
}

bool TileLayer::PaintMercatorTiles(QPainter& painter) const {
  bool whole = !mercatorPlan_.placed.empty();
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  for (const PlacedTile& placed : mercatorPlan_.placed) {
    QRectF part;
    const QImage image = TileImageOrCoarser(placed.key, &part);
    const MemoryTile* own = memory_.object(placed.key);
    whole = whole && own != nullptr && own->opaque;
    if (image.isNull()) continue;
    const QRect target(QPoint(placed.left, placed.top),
                       QPoint(placed.right - 1, placed.bottom - 1));
    painter.drawImage(QRectF(target), image, part);
  }
  painter.restore();
  return whole;
}

void TileLayer::StartRequests() {
  if (!network_) return;
  int nextPauseEnd = -1;
  // Whether `host` may have one more request now; remembers when a pause
  // ends.
  const auto mayAsk = [&](const Host& host) {
    if (host.blocked) return false;
    if (!host.pausedUntil.hasExpired()) {
      const int wait =
          static_cast<int>(std::min<qint64>(host.pausedUntil.remainingTime(), 1 << 30));
      nextPauseEnd = nextPauseEnd < 0 ? wait : std::min(nextPauseEnd, wait);
      return false;
    }
    return host.inFlight < kConnectionsPerHost;
  };
  // Redirects to follow go first: their tiles have waited longest.
  for (auto it = follows_.begin(); it != follows_.end();) {
    Host& host = hosts_[it->hostKey];
    if (host.blocked || it->deadline.hasExpired()) {
      inFlight_.remove(it->tile);
      it = follows_.erase(it);
    } else if (mayAsk(host)) {
      Pending request = std::move(*it);
      it = follows_.erase(it);
      Send(std::move(request));
    } else {
      ++it;
    }
  }
  for (auto it = queue_.begin(); it != queue_.end();) {
    const MapTileKey tile = *it;
    const QUrl url = TileAddress(tile);
    Host& host = hosts_[HostKey(url)];
    if (host.blocked) {
      it = queue_.erase(it);
      continue;
    }
    if (!mayAsk(host)) {
      ++it;
      continue;
    }
    Pending request;
    request.tile = tile;
    request.hostKey = HostKey(url);
    request.asked = {url.toString().toStdString()};
    request.deadline = QDeadlineTimer(requestLimitMs_);
    inFlight_.insert(tile);
    it = queue_.erase(it);
    Send(std::move(request));
  }
  if (nextPauseEnd >= 0) pauseEnd_->start(nextPauseEnd + 1);
}

void TileLayer::Send(Pending request) {
  const QUrl url(QString::fromStdString(request.asked.back()));
  QNetworkRequest ask(url);
  ask.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Roamgrid/" ROAMGRID_VERSION));
  // PreferNetwork (never AlwaysNetwork, which sends no-cache): a stale
  // copy is revalidated with If-None-Match / If-Modified-Since.
  ask.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::PreferNetwork);
  // Each redirect is judged (scheme, count, loops) before it is followed.
  ask.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  ask.setTransferTimeout(timeoutMs_);
  QNetworkReply* reply = network_->get(ask);
  reply->setReadBufferSize(kReadBufferBytes);
  ++hosts_[request.hostKey].inFlight;
  // The whole request, redirects included, ends by its deadline however
  // slowly the bytes trickle in.
  auto* limit = new QTimer(reply);
  limit->setSingleShot(true);
  connect(limit, &QTimer::timeout, this,
          [this, reply] { Abandon(reply, TileFetchFailure::kTooSlow); });
  limit->start(static_cast<int>(std::clamp<qint64>(request.deadline.remainingTime(), 0, 1 << 30)));
  pending_.insert(reply, std::move(request));
  connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > kMaxMapTileBytes) {
      Abandon(reply, TileFetchFailure::kTooLarge);
    }
  });
  connect(reply, &QNetworkReply::readyRead, this, [this, reply] { ReadBody(reply); });
  connect(reply, &QNetworkReply::finished, this, [this, reply] { OnReplyFinished(reply); });
}

void TileLayer::ReadBody(QNetworkReply* reply) {
  const auto it = pending_.find(reply);
  if (it == pending_.end() || it->failure != TileFetchFailure::kNone || !reply->isOpen()) return;
  it->body += reply->read(kMaxMapTileBytes + 1 - it->body.size());
  if (it->body.size() > kMaxMapTileBytes) Abandon(reply, TileFetchFailure::kTooLarge);
}

void TileLayer::Abandon(QNetworkReply* reply, TileFetchFailure failure) {
  const auto it = pending_.find(reply);
  if (it == pending_.end() || it->failure != TileFetchFailure::kNone) return;
  it->failure = failure;
  it->body.clear();
  reply->abort();  // finishes the reply: OnReplyFinished judges it
}

void TileLayer::OnReplyFinished(QNetworkReply* reply) {
  reply->deleteLater();
  if (!pending_.contains(reply)) return;
  ReadBody(reply);
  Pending request = pending_.take(reply);
  Host& answered = hosts_[request.hostKey];
  answered.inFlight = std::max(answered.inFlight - 1, 0);

  TileReplyFacts facts;
  facts.asked = request.asked;
  facts.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  facts.failure = request.failure;
  const bool success = facts.httpStatus >= 200 && facts.httpStatus < 300;
  if (facts.failure == TileFetchFailure::kNone && reply->error() != QNetworkReply::NoError &&
      (facts.httpStatus == 0 || success)) {
    // No answer, or one cut off in its body.
    const bool timedOut = reply->error() == QNetworkReply::TimeoutError ||
                          reply->error() == QNetworkReply::OperationCanceledError;
    facts.failure = timedOut ? TileFetchFailure::kStalled : TileFetchFailure::kUnreachable;
  }
  QImage image;
  bool opaque = false;
  if (facts.failure == TileFetchFailure::kNone && success) {
    image = DecodeTile(request.body, opaque);
    facts.image = !image.isNull();
  }
  facts.retryAfter = reply->rawHeader("Retry-After").toStdString();
  const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
  if (target.isValid()) facts.location = reply->url().resolved(target).toString().toStdString();
  facts.nowUnixTime = QDateTime::currentSecsSinceEpoch();
  const TileVerdict verdict = JudgeTileReply(facts);

  using Action = TileVerdict::Action;
  if (verdict.action == Action::kShow) {
    QDateTime keepUntil = QDateTime::currentDateTimeUtc().addDays(kMinKeepDays);
    if (diskCache_) {
      const QNetworkCacheMetaData metaData = diskCache_->metaData(reply->url());
      if (metaData.isValid() && metaData.expirationDate().isValid()) {
        keepUntil = metaData.expirationDate();
      }
    }
    inFlight_.remove(request.tile);
    memory_.insert(request.tile, new MemoryTile{std::move(image), keepUntil, opaque});
    const bool statusCleared = !status_.isEmpty();
    status_.clear();
    const bool square = NeededBySquare(request.tile);
    if (square) Compose();
    if (square || NeededByMercator(request.tile) || statusCleared) emit tilesArrived();
    StartRequests();
    return;
  }
  if (verdict.action == Action::kFollow) {
    // A redirect is not a tile: nothing of it stays in the cache.
    if (diskCache_) diskCache_->remove(reply->url());
    if (verdict.originMoved &&
        moved_.Learn(UrlOrigin(request.asked.back()), UrlOrigin(verdict.followUrl))) {
      SaveMovedOrigins(moved_);
    }
    request.asked.push_back(verdict.followUrl);
    request.hostKey = HostKey(QUrl(QString::fromStdString(verdict.followUrl)));
    request.body.clear();
    follows_.push_back(std::move(request));
    StartRequests();
    return;
  }
  inFlight_.remove(request.tile);
  if (verdict.action == Action::kMissing) missing_.insert(request.tile);
  // Every server along the way answers for a pause or a block.
  for (const std::string& asked : request.asked) {
    Host& host = hosts_[HostKey(QUrl(QString::fromStdString(asked)))];
    if (verdict.action == Action::kBlockHost) host.blocked = true;
    if (verdict.action == Action::kPauseHost) {
      host.pausedUntil = QDeadlineTimer(qint64{verdict.pauseSeconds} * 1000);
    }
  }
  SetStatus(QString::fromStdString(verdict.status));
  StartRequests();
}

void TileLayer::SetStatus(const QString& text) {
  if (status_ == text) return;
  status_ = text;
  emit tilesArrived();
}

void TileLayer::PaintNotes(QPainter& painter, const QRect& map) const {
  if (!hasSource() && status_.isEmpty()) return;
  painter.save();
  QFont font = painter.font();
  font.setPixelSize(10);
  painter.setFont(font);
  const QFontMetrics metrics(font);
  const auto note = [&](const QString& text, bool bottomRight) {
    if (text.isEmpty()) return;
    const QString shown = metrics.elidedText(text, Qt::ElideRight, map.width() - 8);
    QRect box(0, 0, metrics.horizontalAdvance(shown) + 6, metrics.height() + 2);
    if (bottomRight) {
      box.moveBottomRight(map.bottomRight());
    } else {
      box.moveTopLeft(map.topLeft());
    }
    painter.fillRect(box, QColor(255, 255, 255, 215));
    painter.setPen(QColor(40, 40, 40));
    painter.drawText(box, Qt::AlignCenter, shown);
  };
  note(attribution_, true);
  note(status_, false);
  painter.restore();
}

}  // namespace roamgrid
