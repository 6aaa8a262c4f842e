// A fresh temporary folder made the working directory for one Qt Test
// function (the store and the home file live relative to it), and the
// previous working directory restored afterwards.
#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace roamgrid::testing {

class ScratchWorkingDir {
 public:
  // False when the folder could not be made or entered.
  bool Enter() {
    previous_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    return dir_->isValid() && QDir::setCurrent(dir_->path());
  }
  void Leave() {
    QDir::setCurrent(previous_);
    dir_.reset();
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QString previous_;
};

}  // namespace roamgrid::testing
