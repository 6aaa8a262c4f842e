// What the desktop program shows during a long task: the wait cursor at
// once, then, once the task has run for half a second, a modal progress
// window over the main dialog with what is being done, a bar and Cancel;
// Escape or Cancel stops the task, Return does not. While it lives, the
// main dialog takes no input. Imports show the log being read ("2 of 5:
// name.log") and the bytes read of all chosen logs; other tasks (the
// export of a region, the fold of conflict copies) their own text.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <string>

#include "common/task_progress.h"
#include "import/import_progress.h"

namespace roamgrid {

// The window and its rules, shared by both kinds of task.
class ProgressWindow : public QObject {
 public:
  static constexpr int kShowAfterMs = 500;
  static constexpr char kWaitingForLockText[] =
      "Waiting for the store lock held by another program";

  // The progress window once it has appeared; null before.
  QProgressDialog* window() const { return window_; }
  // What the window says above its bar; while a save waits for the store
  // lock, kWaitingForLockText on a last line.
  QString LabelText() const;

 protected:
  // Sets the wait cursor and repaints `owner` at once, so that a file
  // dialog closed over it is gone before the task starts. The window,
  // titled `title`, appears at the first report after `showAfterMs`.
  ProgressWindow(QWidget* owner, QString title, int showAfterMs);
  // Closes the window, drops input that reached the main dialog meanwhile
  // and restores the cursor.
  ~ProgressWindow() override;

  // The text above the bar and the share done (0 to 1), of the kind of task.
  virtual QString TaskText() const = 0;
  virtual double Done() const = 0;

  // Shows the window when due; refreshes it and runs pending events at
  // most every kRefreshMs.
  void Tick(bool now = false);
  // Whether Cancel was pressed; also lets the window's events run.
  bool CancelPressed();
  void SetWaitingForLock(bool waiting);

  // Eats the user's input to the main dialog (and its closing).
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static constexpr int kRefreshMs = 50;
  static constexpr int kBarSteps = 1000;

  QPointer<QWidget> owner_;
  QPointer<QProgressDialog> window_;
  QString title_;
  int showAfterMs_;
  QElapsedTimer clock_;
  long long lastRefreshMs_ = 0;
  bool waitingForLock_ = false;
};

class ImportProgressWindow : public ProgressWindow, public ImportProgress {
 public:
  // `totalBytes` is the size of all chosen logs.
  ImportProgressWindow(QWidget* owner, long long totalBytes, int showAfterMs = kShowAfterMs);

  void BeginLog(size_t index, size_t count, const std::string& path) override;
  void Advance(long long bytesRead) override;
  bool Cancelled() override { return CancelPressed(); }
  // Shows the window at once, saying that the import waits for the store
  // lock, until the wait is over.
  void WaitingForStoreLock(bool waiting) override { SetWaitingForLock(waiting); }

 protected:
  // "2 of 5: name.log" and "12.3 of 600.0 MB" on the next line.
  QString TaskText() const override;
  double Done() const override;

 private:
  long long totalBytes_;
  size_t logIndex_ = 0;
  size_t logCount_ = 0;
  QString logName_;
  long long bytesBefore_ = 0;  // of the logs finished before this one
  long long bytesOfLog_ = 0;   // of the current log
};

class TaskProgressWindow : public ProgressWindow, public TaskProgress {
 public:
  // The window titled `title`, saying `text` ("Writing all-marks.tif").
  TaskProgressWindow(QWidget* owner, const QString& title, const QString& text,
                     int showAfterMs = kShowAfterMs);

  void Advance(long long done, long long total) override;
  bool Cancelled() override { return CancelPressed(); }
  void WaitingForStoreLock(bool waiting) override { SetWaitingForLock(waiting); }

 protected:
  QString TaskText() const override { return text_; }
  double Done() const override { return done_; }

 private:
  QString text_;
  double done_ = 0.0;
};

}  // namespace roamgrid
