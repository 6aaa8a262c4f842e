// The map tile layer: the picture of a raster tile source (an XYZ URL
// template or a local MBTiles file) under the 448 x 448 map view, resampled
// from Web Mercator onto the view's grid, transparent where tiles are
// missing.
//
// An online source is fetched politely: only the tiles the current view
// needs, at most kConnectionsPerHost requests to a host at a time, the
// User-Agent "Roamgrid/<version>", and an on-disk cache under
// ${XDG_CACHE_HOME:-~/.cache}/roamgrid/tiles/ that keeps every tile at
// least kMinKeepDays days (longer when the server's Cache-Control or Expires
// says so), revalidates it afterwards with If-None-Match/If-Modified-Since
// and stays within a size bound. What each answer leads to is
// JudgeTileReply's (geo/tile_reply_policy): failures are never retried in a
// loop (a 403 blocks the host for the run, a 404 marks the tile missing for
// the run, 429/5xx/time-outs/unreachable servers pause the host), a tile
// that failed is asked for again only by a later view, and a server that
// moved for good is asked at its new address from then on, in later runs
// too. No server can hold the layer: an answer over kMaxMapTileBytes is
// dropped as soon as its Content-Length or its bytes say so, the network is
// read only as fast as the layer takes the bytes, and a request ends after
// SetRequestTimeLimitMs however slowly its bytes come.
// Nothing waits: replies arrive through the event loop and tilesArrived()
// tells the view to repaint.
//
// The layer serves two kinds of view at once, under the same request
// limits, memory and disk cache:
//  - the 448 x 448 square-degree view of the main dialog (SetView, image()):
//    tiles resampled onto the degree grid with a filter as wide as a view
//    pixel, at the zoom that shrinks them least below their size;
//  - one Web Mercator view of any size, such as the Map window
//    (SetMercatorView, TileImage, PaintMercatorTiles): tiles at their native
//    size at whole zooms. A window showing such a view shares the main
//    dialog's layer (ZIvozarivAde::tileLayer()) rather than making its own,
//    so the per-host limits and the cache hold for both.
#pragma once

#include <QCache>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>
#include <vector>

#include "geo/mercator_tiles.h"
#include "geo/tile_reply_policy.h"
#include "geo/tile_source.h"
#include "geo/web_mercator.h"

class QNetworkAccessManager;
class QNetworkDiskCache;
class QNetworkReply;
class QPainter;
class QTimer;

namespace roamgrid {

class MbtilesFile;

// For QHash, QSet and QCache keyed by tile.
size_t qHash(const MapTileKey& key, size_t seed = 0);

class TileLayer : public QObject {
  Q_OBJECT

 public:
  static constexpr int kConnectionsPerHost = 2;
  static constexpr int kMinKeepDays = 7;

  explicit TileLayer(QObject* parent = nullptr);
  ~TileLayer() override;

  // ${XDG_CACHE_HOME:-$HOME/.cache}/roamgrid/tiles
  static QString CacheFolder();

  // Chooses the source (see ParseTileSource; empty for none) and the
  // attribution text drawn on the map (empty: the MBTiles file's own, if
  // any). Clears the picture. Returns false with the reason in status()
  // when the source is a bad template or an unreadable MBTiles file; the
  // layer then shows nothing.
  bool SetSource(const QString& source, const QString& attribution);
  // Bounds the disk cache (MiB); takes effect at the next tile stored.
  void SetCacheLimitMiB(int mebibytes);
  // How long a request may go without data before it counts as a time-out.
  void SetTimeoutMs(int milliseconds);
  // How long a request may take in all, redirects included (30 s).
  void SetRequestTimeLimitMs(int milliseconds);

  bool hasSource() const { return source_.kind != TileSource::Kind::kNone; }
  // Whether tiles of the view are still asked for or awaited.
  bool busy() const { return !inFlight_.isEmpty() || !queue_.empty(); }

  // Shows the view at (originLat, originLon) grid units and zoom index
  // `zoomIndex`: composes image() at once from the tiles at hand (memory,
  // disk cache, MBTiles) and asks the server for the missing ones. Never
  // waits for the network. An MBTiles file that runs past its bounds or
  // fails to read is switched off for the run, and status() says so.
  void SetView(int32_t originLat, int32_t originLon, int zoomIndex);

  // The view's picture: 448 x 448, premultiplied ARGB, row 0 at the north
  // edge (as painted), transparent where no tile is at hand.
  const QImage& image() const { return image_; }
  // Whether image() is opaque everywhere: every tile of the view is at hand
  // and no row lies beyond the Mercator square.
  bool covers() const { return covers_; }
  // One short text on what went wrong last ("tiles: access blocked by
  // server (403)"), empty while all is well.
  const QString& status() const { return status_; }
  const QString& attribution() const { return attribution_; }

  // Draws the attribution in the bottom-right corner and the status in the
  // top-left corner of `map`, dark text on a light box, so they stay legible
  // over any tile.
  void PaintNotes(QPainter& painter, const QRect& map) const;

  // ---- A Web Mercator view (the Map window) ----

  // Most tiles a Web Mercator view shows (a 4K screen at a half zoom step
  // needs about 300); a view that would need more shows none.
  static constexpr int kMaxMercatorTiles = 600;
  // How many zooms up TileImageOrCoarser looks for a stand-in.
  static constexpr int kCoarserZooms = 4;

  // Shows `view`: plans its tiles (PlanMercatorTiles with the source's zoom
  // range: tile zoom, the tiles on screen and their screen rectangles,
  // nearest the centre first), reads those at hand from memory, the disk
  // cache or the MBTiles file, and asks the server for the missing ones,
  // nearest the centre first and before those of the 448 view, under the
  // same polite rules. Never waits for the network. Cheap when the view is
  // unchanged, so a window may call it from every paint. Without a source
  // the plan is empty. The plan returned stays valid until the next call,
  // SetSource or ClearMercatorView; a new source re-plans the view and
  // emits tilesArrived().
  const MercatorTilePlan& SetMercatorView(const MercatorView& view);
  // The plan of the last SetMercatorView (empty before one or after
  // ClearMercatorView).
  const MercatorTilePlan& mercatorPlan() const { return mercatorPlan_; }
  // Forgets the Web Mercator view (its window closed or hidden): its tiles
  // are asked for no more.
  void ClearMercatorView();

  // The picture of `tile` at its native size, 256 x 256 premultiplied ARGB,
  // when it is in memory (SetMercatorView brings the view's tiles there);
  // a null image otherwise. Never reads a file, never asks the server.
  QImage TileImage(const MapTileKey& tile) const;
  // What to draw in `tile`'s place now: its own picture, or while that is
  // not at hand the part of the nearest coarser tile in memory (up to
  // kCoarserZooms zooms up) that covers it. `part` receives the rectangle
  // of the returned image to draw (the whole image for the tile itself).
  // A null image when neither is at hand.
  QImage TileImageOrCoarser(const MapTileKey& tile, QRectF* part) const;
  // Draws the tiles of mercatorPlan() that are at hand (or their coarser
  // stand-ins) into their screen rectangles, smoothly scaled; the painter's
  // origin is the view's top-left screen pixel. Returns whether every tile
  // of the plan was drawn from its own picture and is opaque, so that
  // nothing beneath shows through.
  bool PaintMercatorTiles(QPainter& painter) const;

 signals:
  // image(), the Web Mercator view's tiles or status() changed after
  // SetView or SetMercatorView returned: repaint the views that show tiles.
  void tilesArrived();

 private:
  struct MemoryTile {
    QImage image;         // 256 x 256, premultiplied ARGB
    QDateTime keepUntil;  // online tiles: revalidate after; invalid for MBTiles
    bool opaque = false;  // the image had no alpha channel
  };
  struct Host {
    int inFlight = 0;
    bool blocked = false;        // 401/403: no request for the rest of the run
    QDeadlineTimer pausedUntil;  // 429, 5xx, time-out, unreachable
  };
  // A tile request under way, through its redirects.
  struct Pending {
    MapTileKey tile;
    QString hostKey;                 // the host asked last, whose slot it holds
    std::vector<std::string> asked;  // the URLs asked, the first from the template
    QDeadlineTimer deadline;         // the whole request's time limit
    QByteArray body;                 // read so far, at most kMaxMapTileBytes + 1
    TileFetchFailure failure = TileFetchFailure::kNone;  // why the layer stopped it
  };

  void Reset();
  // Whether a tile's picture is in memory, or could be read from the disk
  // cache or the MBTiles file (and is kept in memory then). `stale` tells
  // whether an online tile is past its keep date.
  bool TileAtHand(const MapTileKey& tile, bool* stale);
  void Compose();
  // Plans the Web Mercator view anew (after a new source) and loads its
  // tiles.
  void PlanMercator();
  // Makes the memory cache hold every tile of both views and kMemoryTiles
  // more.
  void FitMemory();
  // Rebuilds the queue of tiles to ask for: the view set last first, each
  // view's tiles nearest its centre first. `loadFrom` is the list whose
  // tiles may need reading from the disk cache or the MBTiles file.
  void Enqueue(const std::vector<MapTileKey>& loadFrom);
  void StartRequests();
  void Send(Pending request);
  // Takes what a reply holds into its body, stopping it past the cap.
  void ReadBody(QNetworkReply* reply);
  // Stops a reply for `failure`; its end is judged like any other.
  void Abandon(QNetworkReply* reply, TileFetchFailure failure);
  void OnReplyFinished(QNetworkReply* reply);
  // The URL of `tile`, at the new address of a server that moved.
  QUrl TileAddress(const MapTileKey& tile) const;
  // Switches a failed MBTiles file off for the run, saying so.
  void DropFailedFile();
  void SetStatus(const QString& text);
  // Whether the 448 view or the Web Mercator view shows `tile`.
  bool NeededBySquare(const MapTileKey& tile) const;
  bool NeededByMercator(const MapTileKey& tile) const;

  TileSource source_;
  QString attribution_;
  QString status_;
  QImage image_;
  ViewTileMap map_;
  bool haveView_ = false;
  bool covers_ = false;
  int32_t viewLat_ = 0, viewLon_ = 0, viewZoom_ = -1;
  int minZoom_ = 0, maxZoom_ = kMaxMapTileZoom;
  int timeoutMs_ = 15000;
  int requestLimitMs_ = 30000;
  qint64 cacheLimitBytes_ = 300LL << 20;

  std::unique_ptr<MbtilesFile> mbtiles_;
  QNetworkAccessManager* network_ = nullptr;  // made for the first online source
  QNetworkDiskCache* diskCache_ = nullptr;
  QTimer* pauseEnd_ = nullptr;

  bool haveMercator_ = false;
  bool mercatorFirst_ = false;  // the Web Mercator view was set after the 448 view
  MercatorView mercatorView_;
  MercatorTilePlan mercatorPlan_;
  QSet<MapTileKey> mercatorKeys_;  // mercatorPlan_.keys, for lookups

  QCache<MapTileKey, MemoryTile> memory_;
  std::vector<MapTileKey> queue_;  // tiles of the views still to ask for, in order
  QSet<MapTileKey> inFlight_;
  QSet<MapTileKey> missing_;  // 404 this run
  QHash<QString, Host> hosts_;
  QHash<QNetworkReply*, Pending> pending_;
  std::vector<Pending> follows_;  // redirects waiting for a free slot at their host
  MovedOrigins moved_;
};

}  // namespace roamgrid
