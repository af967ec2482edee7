// The updater window drawn on a console: lists and controls are held in memory, message boxes and
// the displays go to a ViewObserver, and the "user-interface thread" is the thread that built the
// view, running a small loop that executes the calls other threads post to it.
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

// What the console shows of the window; called on the user-interface thread.
class ViewObserver {
 public:
  virtual ~ViewObserver() = default;
  virtual void OnControlText(int id, const std::string& text) = 0;
  virtual void OnProgressRange(int32_t lower, int32_t upper) = 0;
  virtual void OnProgressPos(int32_t position) = 0;
  virtual void OnMessageBox(const std::string& text, const std::string& caption,
                            MessageIcon icon) = 0;
  // After a batch of posted calls ran, and at least every poll interval while the loop waits.
  virtual void OnIdle() {}
};

class ConsoleView : public DialogView {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{20};

  // The calling thread becomes the user-interface thread.
  explicit ConsoleView(ViewObserver& observer);
  ~ConsoleView() override;
  ConsoleView(const ConsoleView&) = delete;
  ConsoleView& operator=(const ConsoleView&) = delete;

  // DialogView.
  void SetWindowTitle(const std::string& title) override;
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
  // The detail is the window's: the console prints a line on what to do of its own.
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon,
                  const std::string& detail) override;
  // The command line guards the test package with its own flag, so the window's question is
  // never put; a question would be answered No.
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  void PostToUiThread(std::function<void()> call) override;
  bool OnUiThread() const override;

  // On the user-interface thread: runs posted calls until stop() is true, checking it after every
  // batch and at least every poll interval. Returns when stop() was true.
  void RunUntil(const std::function<bool()>& stop);
  // Runs every call posted so far, then returns.
  void RunPending();
  // The window has gone: calls posted from now on are dropped, queued ones too.
  void Close();

  const std::string& WindowTitle() const { return title_; }
  std::string ControlText(int id) const;
  const std::vector<std::string>& ListEntries(int listId) const;
  int32_t ProgressUpper() const { return progressUpper_; }
  int32_t ProgressPos() const { return progressPos_; }

 private:
  struct List {
    std::vector<std::string> entries;
    int selection = -1;
  };
  List& ListOf(int listId);
  const List& ListOf(int listId) const;
  // Takes the queued calls; waits up to `wait` for one when none is queued.
  std::deque<std::function<void()>> TakeCalls(std::chrono::milliseconds wait);

  ViewObserver& observer_;
  const std::thread::id uiThread_;

  std::mutex postLock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
  bool closed_ = false;

  // Touched on the user-interface thread only.
  std::string title_;
  std::map<int, List> lists_;
  std::map<int, bool> disabled_;
  std::map<int, std::string> texts_;
  int32_t progressLower_ = 0;
  int32_t progressUpper_ = 100;
  int32_t progressPos_ = 0;
};

}  // namespace kv5
