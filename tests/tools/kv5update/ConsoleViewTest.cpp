#include "tools/kv5update/ConsoleView.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kv5 {
namespace {

struct Recorder : ViewObserver {
  std::vector<std::string> events;
  int idles = 0;
  void OnControlText(int id, const std::string& text) override {
    events.push_back("text " + std::to_string(id) + " " + text);
  }
  void OnProgressRange(int32_t lower, int32_t upper) override {
    events.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
  }
  void OnProgressPos(int32_t position) override {
    events.push_back("pos " + std::to_string(position));
  }
  void OnMessageBox(const std::string& text, const std::string& caption,
                    MessageIcon icon) override {
    events.push_back("box " + caption + " " + text + (icon == MessageIcon::Error ? " !" : ""));
  }
  void OnIdle() override { ++idles; }
};

TEST(ConsoleView, PostedCallsRunOnTheViewThreadInOrder) {
  Recorder recorder;
  ConsoleView view(recorder);
  EXPECT_TRUE(view.OnUiThread());

  std::vector<int> ran;
  std::atomic<bool> allPosted{false};
  std::thread poster([&] {
    EXPECT_FALSE(view.OnUiThread());
    for (int i = 0; i < 100; ++i) {
      view.PostToUiThread([&, i] {
        EXPECT_TRUE(view.OnUiThread());
        ran.push_back(i);
      });
    }
    allPosted = true;
  });
  view.RunUntil([&] { return allPosted.load() && ran.size() == 100; });
  poster.join();
  ASSERT_EQ(ran.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(ran[static_cast<size_t>(i)], i);
  EXPECT_GT(recorder.idles, 0);

  // Nothing runs outside the loop; RunPending runs what is queued and returns.
  int later = 0;
  view.PostToUiThread([&] { ++later; });
  EXPECT_EQ(later, 0);
  view.RunPending();
  EXPECT_EQ(later, 1);

  // Once the window has gone, posted calls are dropped, queued ones too.
  view.PostToUiThread([&] { ++later; });
  view.Close();
  view.PostToUiThread([&] { ++later; });
  view.RunPending();
  EXPECT_EQ(later, 1);
}

TEST(ConsoleView, ListsBehaveAsUnsortedDropDownLists) {
  Recorder recorder;
  ConsoleView view(recorder);
  EXPECT_EQ(view.GetCount(IDC_IN_DEVICE_LIST), 0);
  EXPECT_EQ(view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  view.AddString(IDC_IN_DEVICE_LIST, "b");
  view.AddString(IDC_IN_DEVICE_LIST, "a");
  view.AddString(IDC_OUT_DEVICE_LIST, "x");
  EXPECT_EQ(view.GetCount(IDC_IN_DEVICE_LIST), 2);
  EXPECT_EQ(view.GetLBText(IDC_IN_DEVICE_LIST, 0), "b");  // not sorted
  EXPECT_EQ(view.GetLBText(IDC_IN_DEVICE_LIST, 2), "");
  view.SetCurSel(IDC_IN_DEVICE_LIST, 1);
  EXPECT_EQ(view.GetCurSel(IDC_IN_DEVICE_LIST), 1);
  EXPECT_EQ(view.GetCurSel(IDC_OUT_DEVICE_LIST), -1);  // each list has its own selection
  view.SetCurSel(IDC_IN_DEVICE_LIST, 5);
  EXPECT_EQ(view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  view.SetCurSel(IDC_IN_DEVICE_LIST, 0);
  view.ResetContent(IDC_IN_DEVICE_LIST);
  EXPECT_EQ(view.GetCount(IDC_IN_DEVICE_LIST), 0);
  EXPECT_EQ(view.GetCurSel(IDC_IN_DEVICE_LIST), -1);
  EXPECT_EQ(view.ListEntries(IDC_OUT_DEVICE_LIST), std::vector<std::string>{"x"});
}

TEST(ConsoleView, ControlsAndDisplaysReachTheObserver) {
  Recorder recorder;
  ConsoleView view(recorder);
  EXPECT_TRUE(view.IsControlEnabled(IDC_EXECUTE));  // everything enabled at first
  view.EnableControl(IDC_EXECUTE, false);
  EXPECT_FALSE(view.IsControlEnabled(IDC_EXECUTE));
  EXPECT_TRUE(view.IsControlEnabled(IDC_RESCAN));
  view.EnableControl(IDC_EXECUTE, true);
  EXPECT_TRUE(view.IsControlEnabled(IDC_EXECUTE));

  view.SetWindowTitle("TELVOR Q9 System v1.20 Updater");
  EXPECT_EQ(view.WindowTitle(), "TELVOR Q9 System v1.20 Updater");
  view.SetControlText(IDC_STEP_COUNTER, "3/10");
  view.SetProgressRange32(0, 1064224);
  view.SetProgressPos(70000);
  view.MessageBox("Transfer error occurred.", "Error", MessageIcon::Error, "");
  EXPECT_EQ(view.ControlText(IDC_STEP_COUNTER), "3/10");
  EXPECT_EQ(view.ControlText(IDC_STATUS_LINE), "");
  EXPECT_EQ(view.ProgressUpper(), 1064224);
  EXPECT_EQ(view.ProgressPos(), 70000);
  EXPECT_EQ(recorder.events,
            (std::vector<std::string>{"text 1006 3/10", "range 0 1064224", "pos 70000",
                                      "box Error Transfer error occurred. !"}));
}

}  // namespace
}  // namespace kv5
