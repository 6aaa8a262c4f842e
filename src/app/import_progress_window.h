// What the desktop program shows while chosen logs are read: the wait
// cursor at once, then, once the import has run for half a second, a
// modal progress window over the main dialog with the log being read
// ("2 of 5: name.log"), the bytes read of all chosen logs and Cancel;
// Escape or Cancel stops the import, Return does not. While it lives, the
// main dialog takes no input.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <string>

#include "import/import_progress.h"

namespace roamgrid {

class ImportProgressWindow : public QObject, public ImportProgress {
 public:
  static constexpr int kShowAfterMs = 500;
  static constexpr char kWaitingForLockText[] =
      "Waiting for the store lock held by another program";

  // Sets the wait cursor and repaints `owner` at once, so that a file
  // dialog closed over it is gone before reading starts. `totalBytes` is
  // the size of all chosen logs; the window appears at the first report
  // after `showAfterMs`.
  ImportProgressWindow(QWidget* owner, long long totalBytes, int showAfterMs = kShowAfterMs);
  // Closes the window, drops input that reached the main dialog meanwhile
  // and restores the cursor.
  ~ImportProgressWindow() override;

  void BeginLog(size_t index, size_t count, const std::string& path) override;
  void Advance(long long bytesRead) override;
  // Also lets the window's events run, so that Cancel can be pressed.
  bool Cancelled() override;
  // Shows the window at once, saying that the import waits for the store
  // lock, until the wait is over.
  void WaitingForStoreLock(bool waiting) override;

  // The progress window once it has appeared; null before.
  QProgressDialog* window() const { return window_; }
  // "2 of 5: name.log" and "12.3 of 600.0 MB" on the next line; while a
  // save waits for the store lock, kWaitingForLockText on a third.
  QString LabelText() const;

 protected:
  // Eats the user's input to the main dialog (and its closing).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Shows the window when due; refreshes it and runs pending events at
  // most every kRefreshMs.
  void Tick(bool now = false);

  static constexpr int kRefreshMs = 50;
  static constexpr int kBarSteps = 1000;

  QPointer<QWidget> owner_;
  QPointer<QProgressDialog> window_;
  long long totalBytes_;
  int showAfterMs_;
  QElapsedTimer clock_;
  long long lastRefreshMs_ = 0;
  size_t logIndex_ = 0;
  size_t logCount_ = 0;
  QString logName_;
  long long bytesBefore_ = 0;  // of the logs finished before this one
  long long bytesOfLog_ = 0;   // of the current log
  bool cancelled_ = false;
  bool waitingForLock_ = false;
};

}  // namespace roamgrid
