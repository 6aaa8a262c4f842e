// A WindowingPlatform that answers from a script and records every
// question, so commands can be tested without a display. A question that
// was not scripted fails the test and gets the Cancel/No answer.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/task_progress.h"
#include "common/windowing_platform.h"
#include "export/region_choice.h"
#include "import/import_progress.h"

namespace roamgrid::testing {

class ScriptedPlatform : public WindowingPlatform {
 public:
  struct Message {
    std::string text;
    std::string title;
    MessageStyle style;
  };

  // Scripting: answers are used in the order queued.
  void QueueLogFiles(std::vector<std::string> paths) { logFiles_.push_back(std::move(paths)); }
  void QueueLogFolder(std::optional<std::string> folder) {
    logFolders_.push_back(std::move(folder));
  }
  void QueueExportPath(std::optional<std::string> path) { exportPaths_.push_back(std::move(path)); }
  void QueueOverwrite(OverwriteAnswer answer) { overwrites_.push_back(answer); }
  void QueueMessageAnswer(MessageAnswer answer) { messageAnswers_.push_back(answer); }
  void QueueTileSource(std::optional<TileSourceChoice> choice) {
    tileSources_.push_back(std::move(choice));
  }
  void QueueRegionChoice(std::optional<RegionExportChoice> choice) {
    regionChoices_.push_back(std::move(choice));
  }

  // What was asked.
  int logFileQuestions = 0;
  std::vector<std::string> proposedNames;
  std::vector<std::string> overwriteQuestions;
  std::vector<Message> messages;
  std::vector<TileSourceChoice> tileSourcesShown;  // what the tile source dialog showed
  std::vector<RegionExportChoice> regionChoicesShown;  // what the region question showed
  // Other long tasks: "title: text" of each started, the last step told
  // ("done/total"), lock waits told, and with `cancelTaskAt` n > 0 the n-th
  // question whether to stop a task is answered yes.
  std::vector<std::string> tasksStarted;
  std::string lastTaskStep;
  int taskLockWaits = 0;
  int taskCancelQuestions = 0;
  int cancelTaskAt = 0;
  // Import progress: the totals announced, the logs begun ("k/n path"),
  // the last bytes reported and how often Cancel was asked. With
  // `cancelAtBlock` n > 0, the n-th question of an import is answered yes.
  std::vector<long long> importTotals;
  std::vector<std::string> logsBegun;
  long long lastAdvance = -1;
  int cancelQuestions = 0;
  int cancelAtBlock = 0;
  // Questions that had no scripted answer (Qt Test suites check this, since
  // ADD_FAILURE only fails GoogleTest suites).
  int unscripted = 0;

  // True when every scripted answer was used.
  bool AllAnswersUsed() const {
    return logFiles_.empty() && logFolders_.empty() && exportPaths_.empty() &&
           overwrites_.empty() && messageAnswers_.empty() && tileSources_.empty() &&
           regionChoices_.empty();
  }

  std::vector<std::string> ChooseLogFiles() override {
    ++logFileQuestions;
    return Next(logFiles_, {}, "log file dialog");
  }

  std::optional<std::string> ChooseLogFolder() override {
    ++logFileQuestions;
    return Next(logFolders_, {}, "folder dialog");
  }

  std::optional<std::string> ChooseExportPath(const std::string& proposedName) override {
    proposedNames.push_back(proposedName);
    return Next(exportPaths_, {}, "save dialog for " + proposedName);
  }

  std::optional<RegionExportChoice> ChooseExportRegion(const RegionExportChoice& current) override {
    regionChoicesShown.push_back(current);
    return Next(regionChoices_, {}, "region question");
  }

  std::optional<std::string> ChooseRegionExportPath(const std::string& proposedName) override {
    proposedNames.push_back(proposedName);
    return Next(exportPaths_, {}, "region save dialog for " + proposedName);
  }

  OverwriteAnswer AskOverwrite(const std::string& path) override {
    overwriteQuestions.push_back(path);
    return Next(overwrites_, OverwriteAnswer::kCancel, "overwrite prompt for " + path);
  }

  MessageAnswer ShowMessage(const std::string& text, const std::string& title,
                            MessageStyle style) override {
    messages.push_back({text, title, style});
    if (style != MessageStyle::kQuestionYesNo) return MessageAnswer::kOk;
    return Next(messageAnswers_, MessageAnswer::kNo, "question: " + text);
  }

  std::optional<TileSourceChoice> ChooseTileSource(const TileSourceChoice& current) override {
    tileSourcesShown.push_back(current);
    return Next(tileSources_, {}, "tile source dialog");
  }

  std::unique_ptr<ImportProgress> StartImportProgress(long long totalBytes) override {
    importTotals.push_back(totalBytes);
    cancelQuestions = 0;
    return std::make_unique<Progress>(*this);
  }

  std::unique_ptr<TaskProgress> StartTaskProgress(const std::string& title,
                                                  const std::string& text) override {
    tasksStarted.push_back(title + ": " + text);
    taskCancelQuestions = 0;
    return std::make_unique<Task>(*this);
  }

 private:
  // The next scripted answer of `queue`; without one the question fails the
  // test and gets `unscriptedAnswer`.
  template <typename Answer>
  Answer Next(std::deque<Answer>& queue, Answer unscriptedAnswer, const std::string& question) {
    if (queue.empty()) {
      ++unscripted;
      ADD_FAILURE() << "unscripted " << question;
      return unscriptedAnswer;
    }
    Answer answer = std::move(queue.front());
    queue.pop_front();
    return answer;
  }

  struct Progress : ImportProgress {
    ScriptedPlatform& platform;
    explicit Progress(ScriptedPlatform& owner) : platform(owner) {}
    void BeginLog(size_t index, size_t count, const std::string& path) override {
      platform.logsBegun.push_back(std::to_string(index + 1) + "/" + std::to_string(count) + " " +
                                   path);
    }
    void Advance(long long bytesRead) override { platform.lastAdvance = bytesRead; }
    bool Cancelled() override { return ++platform.cancelQuestions == platform.cancelAtBlock; }
  };

  struct Task : TaskProgress {
    ScriptedPlatform& platform;
    explicit Task(ScriptedPlatform& owner) : platform(owner) {}
    void Advance(long long done, long long total) override {
      platform.lastTaskStep = std::to_string(done) + "/" + std::to_string(total);
    }
    bool Cancelled() override { return ++platform.taskCancelQuestions == platform.cancelTaskAt; }
    void WaitingForStoreLock(bool waiting) override { platform.taskLockWaits += waiting; }
  };

  std::deque<std::vector<std::string>> logFiles_;
  std::deque<std::optional<std::string>> logFolders_;
  std::deque<std::optional<std::string>> exportPaths_;
  std::deque<OverwriteAnswer> overwrites_;
  std::deque<MessageAnswer> messageAnswers_;
  std::deque<std::optional<TileSourceChoice>> tileSources_;
  std::deque<std::optional<RegionExportChoice>> regionChoices_;
};

}  // namespace roamgrid::testing
