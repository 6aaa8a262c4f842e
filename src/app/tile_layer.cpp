#include "app/tile_layer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFontMetrics>
#include <QImageReader>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QTextDocumentFragment>
#include <QTimer>
#include <algorithm>

#include "geo/mbtiles_file.h"
#include "geo/tile_sampling.h"
#include "tiles/grid_units.h"
#include "view/view_state.h"

namespace roamgrid {
namespace {

constexpr int kMaxTileSide = 1024;      // larger images are not map tiles
constexpr int kMemoryTiles = 128;       // decoded tiles kept, 256 KiB each
constexpr int kMaxViewTiles = 64;       // more only when a source lacks coarse zooms
constexpr int kBusyPauseSeconds = 60;   // 429 without Retry-After
constexpr int kErrorPauseSeconds = 30;  // 5xx without Retry-After
constexpr int kLostPauseSeconds = 60;   // time-out, no connection
constexpr int kMaxPauseSeconds = 24 * 3600;

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

// Seconds a Retry-After header asks for (a number or an HTTP date), or
// `fallback` without one.
int RetryAfterSeconds(const QNetworkReply* reply, int fallback) {
  const QByteArray value = reply->rawHeader("Retry-After").trimmed();
  if (value.isEmpty()) return fallback;
  bool isNumber = false;
  const qlonglong seconds = value.toLongLong(&isNumber);
  if (isNumber) return static_cast<int>(std::clamp<qlonglong>(seconds, 1, kMaxPauseSeconds));
  QDateTime date = QLocale::c().toDateTime(QString::fromLatin1(value).left(25),
                                           QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"));
  if (!date.isValid()) return fallback;
  date.setTimeSpec(Qt::UTC);
  const qint64 wait = QDateTime::currentDateTimeUtc().secsTo(date);
  return static_cast<int>(std::clamp<qint64>(wait, 1, kMaxPauseSeconds));
}

QString HostKey(const QUrl& url) { return url.host() + ':' + QString::number(url.port(-1)); }

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
    return false;
  }
  if (parsed.kind == TileSource::Kind::kMbtiles) {
    mbtiles_ = MbtilesFile::Open(
        QFile::encodeName(QString::fromStdString(parsed.text)).toStdString(), error);
    if (!mbtiles_) {
      status_ = "tiles: " + QString::fromStdString(error);
      return false;
    }
    minZoom_ = mbtiles_->minZoom();
    maxZoom_ = mbtiles_->maxZoom();
    if (attribution_.isEmpty()) {
      // The metadata's attribution is often HTML with links: shown as text.
      attribution_ =
          QTextDocumentFragment::fromHtml(QString::fromStdString(mbtiles_->attribution()))
              .toPlainText()
              .simplified();
    }
  }
  if (parsed.kind == TileSource::Kind::kUrlTemplate && network_ == nullptr) {
    network_ = new QNetworkAccessManager(this);
    diskCache_ = new TileDiskCache(network_);
    diskCache_->setCacheDirectory(CacheFolder());
    diskCache_->setMaximumCacheSize(cacheLimitBytes_);
    network_->setCache(diskCache_);
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
  } else if (diskCache_) {
    const QUrl url(QString::fromStdString(TileUrl(source_, tile)));
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
  const qsizetype wanted = 2 * (qsizetype(map_.tiles.size()) + mercatorKeys_.size());
  memory_.setMaxCost(std::max<qsizetype>(kMemoryTiles, wanted));
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
  for (auto it = queue_.begin(); it != queue_.end();) {
    const MapTileKey tile = *it;
    const QUrl url(QString::fromStdString(TileUrl(source_, tile)));
    const QString hostKey = HostKey(url);
    Host& host = hosts_[hostKey];
    if (host.blocked) {
      it = queue_.erase(it);
      continue;
    }
    if (!host.pausedUntil.hasExpired()) {
      const int wait =
          static_cast<int>(std::min<qint64>(host.pausedUntil.remainingTime(), 1 << 30));
      nextPauseEnd = nextPauseEnd < 0 ? wait : std::min(nextPauseEnd, wait);
      ++it;
      continue;
    }
    if (host.inFlight >= kConnectionsPerHost) {
      ++it;
      continue;
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Roamgrid/" ROAMGRID_VERSION));
    // PreferNetwork (never AlwaysNetwork, which sends no-cache): a stale
    // copy is revalidated with If-None-Match / If-Modified-Since.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::PreferNetwork);
    request.setTransferTimeout(timeoutMs_);
    QNetworkReply* reply = network_->get(request);
    ++host.inFlight;
    inFlight_.insert(tile);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
      if (received > MbtilesFile::kMaxTileBytes) {
        reply->setProperty("oversize", true);
        reply->abort();
      }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, tile, hostKey] { OnReplyFinished(reply, tile, hostKey); });
    it = queue_.erase(it);
  }
  if (nextPauseEnd >= 0) pauseEnd_->start(nextPauseEnd + 1);
}

void TileLayer::PauseHost(Host& host, QNetworkReply* reply, int defaultSeconds) {
  host.pausedUntil = QDeadlineTimer(qint64{RetryAfterSeconds(reply, defaultSeconds)} * 1000);
}

void TileLayer::OnReplyFinished(QNetworkReply* reply, MapTileKey tile, QString hostKey) {
  reply->deleteLater();
  inFlight_.remove(tile);
  Host& host = hosts_[hostKey];
  host.inFlight = std::max(host.inFlight - 1, 0);
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  const bool oversize = reply->property("oversize").toBool();
  QImage image;
  bool opaque = false;
  if (reply->error() == QNetworkReply::NoError) image = DecodeTile(reply->readAll(), opaque);
  if (!image.isNull()) {
    QDateTime keepUntil = QDateTime::currentDateTimeUtc().addDays(kMinKeepDays);
    if (diskCache_) {
      const QNetworkCacheMetaData metaData = diskCache_->metaData(reply->url());
      if (metaData.isValid() && metaData.expirationDate().isValid()) {
        keepUntil = metaData.expirationDate();
      }
    }
    memory_.insert(tile, new MemoryTile{std::move(image), keepUntil, opaque});
    status_.clear();
    const bool square = NeededBySquare(tile);
    if (square) Compose();
    if (square || NeededByMercator(tile)) emit tilesArrived();
    StartRequests();
    return;
  }
  QString why;
  if (reply->error() == QNetworkReply::NoError || oversize) {
    why = QStringLiteral("tiles: the server sent no image");
  } else if (status == 401 || status == 403) {
    host.blocked = true;
    why = QStringLiteral("tiles: access blocked by server (%1)").arg(status);
  } else if (status == 404 || status == 410) {
    missing_.insert(tile);
    why = QStringLiteral("tiles: tile not found (%1)").arg(status);
  } else if (status == 429) {
    PauseHost(host, reply, kBusyPauseSeconds);
    why = QStringLiteral("tiles: too many requests, pausing (429)");
  } else if (status >= 500) {
    PauseHost(host, reply, kErrorPauseSeconds);
    why = QStringLiteral("tiles: server error (%1)").arg(status);
  } else if (status != 0) {
    why = QStringLiteral("tiles: request refused (%1)").arg(status);
  } else if (reply->error() == QNetworkReply::TimeoutError ||
             reply->error() == QNetworkReply::OperationCanceledError) {
    PauseHost(host, reply, kLostPauseSeconds);
    why = QStringLiteral("tiles: no answer from server (time-out)");
  } else {
    PauseHost(host, reply, kLostPauseSeconds);
    why = QStringLiteral("tiles: cannot reach server");
  }
  SetStatus(why);
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
