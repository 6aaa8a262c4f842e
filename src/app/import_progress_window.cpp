#include "app/import_progress_window.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QWidget>
#include <algorithm>

#include "common/number_text.h"

namespace roamgrid {
namespace {

constexpr double kBytesPerMB = 1e6;

QString Megabytes(long long bytes) {
  return QString::fromStdString(FormatFixed(double(bytes) / kBytesPerMB, 0, 1));
}

// Input that would run a command of the main dialog, or close it.
bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
      return true;
    default:
      return false;
  }
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* owner, QString title, int showAfterMs)
    : owner_(owner), title_(std::move(title)), showAfterMs_(showAfterMs) {
  clock_.start();
  qApp->installEventFilter(this);
  QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  // The file dialog has closed over the main dialog: paint what it covered
  // now, not after the task.
  if (owner_) owner_->repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

ProgressWindow::~ProgressWindow() {
  delete window_.data();
  // Clicks and keys that arrived during the task reach the filter now and
  // are dropped, instead of running commands afterwards.
  QCoreApplication::processEvents();
  qApp->removeEventFilter(this);
  QApplication::restoreOverrideCursor();
}

QString ProgressWindow::LabelText() const {
  QString text = TaskText();
  if (waitingForLock_) text += QStringLiteral("\n") + QString::fromUtf8(kWaitingForLockText);
  return text;
}

bool ProgressWindow::CancelPressed() {
  Tick();
  return window_ && window_->wasCanceled();
}

void ProgressWindow::SetWaitingForLock(bool waiting) {
  waitingForLock_ = waiting;
  Tick(true);
}

void ProgressWindow::Tick(bool now) {
  const long long elapsedMs = clock_.elapsed();
  const bool appearing = !window_;
  if (appearing) {
    if (elapsedMs < showAfterMs_ && !now) return;
    window_ = new QProgressDialog(owner_);
    window_->setWindowModality(Qt::WindowModal);
    window_->setWindowTitle(title_);
    // Only Escape and a click cancel: Return, pressed for the main dialog
    // as the window appears, must not.
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    window_->setCancelButton(cancel);
    window_->setAutoClose(false);
    window_->setAutoReset(false);
    window_->setMinimumDuration(0);
    window_->setRange(0, kBarSteps);
    window_->setMinimumWidth(360);
  } else if (elapsedMs - lastRefreshMs_ < kRefreshMs && !now) {
    return;
  }
  lastRefreshMs_ = elapsedMs;
  window_->setLabelText(LabelText());
  // Shown with its text, so at its final size. QDialog centres the window
  // over the main dialog and Qt passes that place to the window manager as
  // the user's; a resize right after showing made Qt send its place again,
  // which it may have read while the window manager was still framing the
  // window at the screen's corner, and the window stayed at (0, 0).
  if (appearing) window_->show();
  window_->setValue(int(std::clamp(Done(), 0.0, 1.0) * kBarSteps));
  QCoreApplication::processEvents();
}

bool ProgressWindow::eventFilter(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  // Escape in the window stops the task as Cancel does. It is taken when Qt
  // first offers it as a shortcut: the window's own Escape shortcut fires
  // only while the window manager has made the window active.
  const bool key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress;
  if (key && widget && window_ && widget->window() == window_ &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    window_->cancel();
    event->accept();
    return true;
  }
  if (!widget || !owner_ || widget->window() != owner_) return false;
  if (event->type() == QEvent::Close && widget == owner_) {
    event->ignore();
    return true;
  }
  return IsUserInput(event->type());
}

ImportProgressWindow::ImportProgressWindow(QWidget* owner, long long totalBytes, int showAfterMs)
    : ProgressWindow(owner, QStringLiteral("Import"), showAfterMs), totalBytes_(totalBytes) {}

void ImportProgressWindow::BeginLog(size_t index, size_t count, const std::string& path) {
  bytesBefore_ += bytesOfLog_;
  bytesOfLog_ = 0;
  logIndex_ = index;
  logCount_ = count;
  logName_ = QFileInfo(QFile::decodeName(path.c_str())).fileName();
  Tick();
}

void ImportProgressWindow::Advance(long long bytesRead) {
  bytesOfLog_ = bytesRead;
  Tick();
}

QString ImportProgressWindow::TaskText() const {
  long long done = bytesBefore_ + bytesOfLog_;
  if (done > totalBytes_) done = totalBytes_;  // a log that grew while read
  return QStringLiteral("%1 of %2: %3\n%4 of %5 MB")
      .arg(logIndex_ + 1)
      .arg(logCount_)
      .arg(logName_, Megabytes(done), Megabytes(totalBytes_));
}

double ImportProgressWindow::Done() const {
  return totalBytes_ > 0 ? double(bytesBefore_ + bytesOfLog_) / double(totalBytes_) : 0.0;
}

TaskProgressWindow::TaskProgressWindow(QWidget* owner, const QString& title, const QString& text,
                                       int showAfterMs)
    : ProgressWindow(owner, title, showAfterMs), text_(text) {}

void TaskProgressWindow::Advance(long long done, long long total) {
  done_ = total > 0 ? double(done) / double(total) : 0.0;
  Tick();
}

}  // namespace roamgrid
