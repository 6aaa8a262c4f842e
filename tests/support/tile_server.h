// Test helper: a tiny HTTP/1.1 tile server on 127.0.0.1, run by the test's
// own event loop. GET /z/x/y.png answers a 256 x 256 PNG of one colour that
// encodes z/x/y, with ETag "1" and 304 to If-None-Match "1" (or, by
// `answer`, 403, 429 with Retry-After, nothing at all, or something
// hostile: an endless body with or without a length, a body one byte at a
// time, a redirect loop, a permanent redirect to `movedTo`); each request's
// head is kept, and what the bodies cost the server is counted.
#pragma once

#include <QBuffer>
#include <QHash>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdint>
#include <limits>
#include <memory>
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
  enum class Answer {
    kTiles,
    k403,
    k429,
    kStall,
    kHugeBody,  // Content-Length 200 MB, and bytes for as long as they are taken
    kEndless,   // chunked bytes for as long as they are taken
    kTrickle,   // one byte of a 100-byte body every 50 ms
    kLoop,      // /z/x/y.png -> /again/z/x/y.png -> /z/x/y.png ...
    kMoved,     // 301 to the same path at `movedTo`
  };
  Answer answer = Answer::kTiles;
  QString movedTo;  // "http://127.0.0.1:port"
  QList<QByteArray> requests;
  qint64 bodyBytesSent = 0;    // body bytes the system took from the server
  int closedBeforeTheEnd = 0;  // connections the client closed mid-body

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
      const QByteArray target = head.split(' ').value(1);
      const QList<QByteArray> path = target.split('/');
      QByteArray body, status = "200 OK", extra = "Cache-Control: max-age=60\r\nETag: \"1\"\r\n";
      if (answer == Answer::kStall) return;
      if (answer == Answer::kHugeBody || answer == Answer::kEndless || answer == Answer::kTrickle) {
        Stream(socket);
        return;
      }
      if (answer == Answer::kLoop || answer == Answer::kMoved) {
        const QByteArray location = answer == Answer::kMoved      ? movedTo.toLatin1() + target
                                    : target.startsWith("/again") ? target.mid(6)
                                                                  : "/again" + target;
        socket->write("HTTP/1.1 " + QByteArray(answer == Answer::kMoved ? "301" : "302") +
                      " Elsewhere\r\nLocation: " + location + "\r\nContent-Length: 0\r\n\r\n");
        continue;
      }
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
  // Sends the body of kHugeBody, kEndless or kTrickle, keeping only a
  // little unwritten so that the count follows what the client takes.
  void Stream(QTcpSocket* socket) {
    constexpr qint64 kHuge = qint64{200} << 20, kChunk = 64 * 1024, kTrickleBytes = 100;
    const Answer kind = answer;
    socket->write(kind == Answer::kHugeBody ? "HTTP/1.1 200 OK\r\nContent-Length: " +
                                                  QByteArray::number(kHuge) + "\r\n\r\n"
                  : kind == Answer::kEndless
                      ? QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")
                      : "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(kTrickleBytes) +
                            "\r\n\r\n");
    // Body bytes handed to the socket, shared by the handlers below, which
    // may outlive one another.
    const auto sent = std::make_shared<qint64>(0);
    const auto more = [this, socket, sent, kind] {
      if (socket->state() != QAbstractSocket::ConnectedState || socket->bytesToWrite() > kChunk) {
        return;
      }
      if (kind == Answer::kHugeBody && *sent < kHuge) {
        socket->write(QByteArray(kChunk, 'x'));
        *sent += kChunk;
      } else if (kind == Answer::kEndless) {
        socket->write(QByteArray::number(kChunk, 16) + "\r\n" + QByteArray(kChunk, 'x') + "\r\n");
        *sent += kChunk;
      }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, more](qint64 written) {
      bodyBytesSent += written;
      more();
    });
    const qint64 whole = kind == Answer::kHugeBody  ? kHuge
                         : kind == Answer::kTrickle ? kTrickleBytes
                                                    : std::numeric_limits<qint64>::max();
    connect(socket, &QTcpSocket::disconnected, socket, [this, sent, whole] {
      if (*sent < whole) ++closedBeforeTheEnd;
    });
    if (kind == Answer::kTrickle) {
      auto* drip = new QTimer(socket);
      connect(drip, &QTimer::timeout, socket, [socket, sent, drip] {
        if (*sent >= kTrickleBytes) return drip->stop();
        socket->write("x");
        ++*sent;
      });
      drip->start(50);
    }
    more();
  }

  QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace roamgrid::testing
