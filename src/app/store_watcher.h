// Keeps the open map in step with the store: watches the tile folders of
// the shown view (and RGD/ for new folders, or the store folder while there
// is no RGD/) through the kernel's file notification, and after a burst of
// changes by any program (a scripted import, another desktop program, this
// one) says once that the view should be rebuilt. Nothing runs while the
// store is quiet: no polling, and the timer that gathers a burst runs only
// after a change.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>
#include <string>
#include <vector>

namespace roamgrid {

class StoreWatcher : public QObject {
  Q_OBJECT

 public:
  // How long the watcher waits after a change for more before it asks for a
  // rebuild: a save is a temporary file and a rename, an import many saves.
  static constexpr int kBurstMs = 250;

  explicit StoreWatcher(QObject* parent = nullptr);

  // Watches `folders` (relative to the working directory, "RGD/E139N035")
  // that exist, and RGD (or "." without it); stops watching any other.
  void Watch(const std::vector<std::string>& folders);

  // The paths watched now, sorted (for tests).
  QStringList watched() const;

 signals:
  // Emitted once after a burst of changes in the watched folders.
  void StoreChanged();

 private:
  void OnChange();

  QFileSystemWatcher watcher_;
  QTimer burst_;
  std::vector<std::string> folders_;  // the view's folders last asked for
};

}  // namespace roamgrid
