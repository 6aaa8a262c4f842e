#include "app/store_watcher.h"

#include <QFile>
#include <filesystem>
#include <system_error>

namespace roamgrid {

namespace {

constexpr char kStoreRoot[] = "RGD";

bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_directory(path, ignored);
}

}  // namespace

StoreWatcher::StoreWatcher(QObject* parent) : QObject(parent) {
  burst_.setSingleShot(true);
  burst_.setInterval(kBurstMs);
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &StoreWatcher::OnChange);
  connect(&burst_, &QTimer::timeout, this, [this] {
    // A new tile folder, or RGD made, may belong to the view: watch anew.
    Watch(folders_);
    emit StoreChanged();
  });
}

void StoreWatcher::Watch(const std::vector<std::string>& folders) {
  folders_ = folders;
  QStringList wanted;
  const bool hasRoot = IsFolder(kStoreRoot);
  wanted.append(QString::fromLatin1(hasRoot ? kStoreRoot : "."));
  if (hasRoot) {
    for (const std::string& folder : folders)
      if (IsFolder(folder)) wanted.append(QFile::decodeName(folder.c_str()));
  }
  const QStringList current = watched();
  QStringList gone, added;
  for (const QString& path : current)
    if (!wanted.contains(path)) gone.append(path);
  for (const QString& path : wanted)
    if (!current.contains(path)) added.append(path);
  if (!gone.isEmpty()) watcher_.removePaths(gone);
  // A folder that cannot be watched (removed meanwhile, out of watches) is
  // left unwatched; the next navigation tries it again.
  if (!added.isEmpty()) watcher_.addPaths(added);
}

QStringList StoreWatcher::watched() const {
  QStringList paths = watcher_.directories();
  paths.sort();
  return paths;
}

void StoreWatcher::OnChange() {
  if (!burst_.isActive()) burst_.start();
}

}  // namespace roamgrid
