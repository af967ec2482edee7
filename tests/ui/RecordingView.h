// A DialogView for tests of the dialog logic: controls are held in memory, every message box is
// recorded in order and dismissed at once, and the "user-interface thread" is the test's own
// thread, which runs the calls other threads post when the test pumps them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/DialogView.h"

namespace kv5 {

struct RecordedBox {
  std::string text;
  std::string caption;
  MessageIcon icon;
  std::string detail;
};

class RecordingView : public DialogView {
 public:
  RecordingView();

  // DialogView.
  void SetWindowTitle(const std::string& title) override { title_ = title; }
  void AppendAboutMenuEntry(uint32_t command, const std::string& text) override;
  void ShowAboutBox() override;
  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) const override;
  void SetControlText(int id, const std::string& text) override;
  void ResetContent(int listId) override;
  void AddString(int listId, const std::string& text) override;
  int GetCount(int listId) const override;
  std::string GetLBText(int listId, int index) const override;
  void SetCurSel(int listId, int index) override;
  int GetCurSel(int listId) const override;
  void SetProgressRange32(int32_t lower, int32_t upper) override;
  void SetProgressPos(int32_t position) override;
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                  const std::string& detail) override;
  // Records the question ("ask:<caption>") and gives the answer set with AnswerQuestions.
  bool AskYesNo(const std::string& text, const std::string& caption) override;
  void AnswerQuestions(bool yes) { answer_ = yes; }
  void PostToUiThread(std::function<void()> call) override;
  bool OnUiThread() const override;

  // Runs the calls posted so far; returns how many ran.
  size_t Pump();
  // Runs posted calls until done() holds (checked after every call and every few milliseconds);
  // false when the limit ran out first.
  bool PumpUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(20));
  size_t PendingPosts() const;
  // Waits, without running anything, until at least count calls are posted.
  bool WaitForPosts(size_t count, std::chrono::milliseconds limit);

  // Runs inside MessageBox, after the box was recorded (a user acting while a box is up).
  void OnMessageBox(std::function<void(const RecordedBox&)> hook) { boxHook_ = std::move(hook); }

  const std::string& Title() const { return title_; }
  const std::vector<RecordedBox>& Boxes() const { return boxes_; }
  const std::vector<RecordedBox>& Questions() const { return questions_; }
  void ClearBoxes() { boxes_.clear(); }
  const std::vector<std::pair<uint32_t, std::string>>& MenuEntries() const { return menu_; }
  int AboutBoxes() const { return aboutBoxes_; }
  std::string Text(int id) const;
  std::vector<std::string> Entries(int listId) const;
  int32_t ProgressLower() const { return progressLower_; }
  int32_t ProgressUpper() const { return progressUpper_; }
  int32_t ProgressPos() const { return progressPos_; }
  // Everything that reached the view, in order: "box:<text>", "enable:<id>:<0|1>", "text:<id>:..."
  const std::vector<std::string>& Events() const { return events_; }
  // True when every view call so far ran on the test's thread.
  bool AllOnUiThread() const { return !offThread_; }

 private:
  struct List {
    std::vector<std::string> entries;
    int selection = -1;
  };
  void Touch() const;
  List* ListOf(int listId);
  const List* ListOf(int listId) const;

  const std::thread::id uiThread_;
  mutable bool offThread_ = false;

  mutable std::mutex postLock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> posts_;

  std::string title_;
  std::vector<std::pair<uint32_t, std::string>> menu_;
  int aboutBoxes_ = 0;
  std::map<int, bool> disabled_;
  std::map<int, std::string> texts_;
  std::map<int, List> lists_;
  int32_t progressLower_ = 0;
  int32_t progressUpper_ = 100;
  int32_t progressPos_ = 0;
  std::vector<RecordedBox> boxes_;
  std::vector<RecordedBox> questions_;
  bool answer_ = true;  // a tester answers Yes unless a test says otherwise
  std::vector<std::string> events_;
  std::function<void(const RecordedBox&)> boxHook_;
};

}  // namespace kv5
