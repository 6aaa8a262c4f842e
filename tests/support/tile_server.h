// Test helper: a tiny HTTP/1.1 tile server on 127.0.0.1, run by the test's
// own event loop. GET /z/x/y.png answers a 256 x 256 PNG of one colour that
// encodes z/x/y, with ETag "1" and 304 to If-None-Match "1" (or, by
// `answer`, 403, 429 with Retry-After, or nothing at all); each request's
// head is kept.
#pragma once

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <vector>

namespace roamgrid::testing {

inline QRgb TileColour(int z, int x, int y) { return qRgb(z * 11, x & 255, y & 255); }

inline std::vector<uint8_t> TilePng(int z, int x, int y) {
  QImage image(256, 256, QImage::Format_RGB32);
  image.fill(TileColour(z, x, y));
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return std::vector<uint8_t>(png.begin(), png.end());
}

class TileServer : public QTcpServer {
 public:
  enum class Answer { kTiles, k403, k429, kStall };
  Answer answer = Answer::kTiles;
  QList<QByteArray> requests;

  TileServer() {
    listen(QHostAddress::LocalHost);
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  QString Template() const {
    return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(serverPort());
  }

 private:
  void Serve(QTcpSocket* socket) {
    QByteArray& pending = buffers_[socket];
    pending += socket->readAll();
    for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0;) {
      const QByteArray head = pending.left(end);
      pending.remove(0, end + 4);
      requests << head;
      const QList<QByteArray> path = head.split(' ').value(1).split('/');
      QByteArray body, status = "200 OK", extra = "Cache-Control: max-age=60\r\nETag: \"1\"\r\n";
      if (answer == Answer::kStall) return;
      if (answer == Answer::k403) status = "403 Forbidden", extra = "", body = "Access blocked";
      if (answer == Answer::k429) status = "429 Too Many", extra = "Retry-After: 120\r\n";
      if (answer == Answer::kTiles && head.contains("\r\nIf-None-Match: \"1\"")) {
        status = "304 Not Modified";
      } else if (answer == Answer::kTiles && path.size() == 4) {
        const std::vector<uint8_t> png =
            TilePng(path[1].toInt(), path[2].toInt(), path[3].split('.')[0].toInt());
        body = QByteArray(reinterpret_cast<const char*>(png.data()), qsizetype(png.size()));
        extra += "Content-Type: image/png\r\n";
      }
      socket->write("HTTP/1.1 " + status + "\r\n" + extra +
                    "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
  }
  QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace roamgrid::testing
