#include "SoakSession.h"

#include <memory>
#include <vector>

#include "session/StringTable.h"
#include "tools/kv5update/ConsoleView.h"
#include "ui/CKv5UpdatorDlg.h"

namespace kv5::soak {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A send that the loopback has not finished after this long counts as failed.
constexpr uint32_t kCompletionLimitMs = 2000;

// The console view's message boxes are dismissed at once; the soak keeps their texts.
class BoxRecorder : public ViewObserver {
 public:
  void OnControlText(int, const std::string&) override {}
  void OnProgressRange(int32_t, int32_t) override {}
  void OnProgressPos(int32_t) override {}
  void OnMessageBox(const std::string& text, const std::string&, MessageIcon) override {
    boxes.push_back(text);
  }
  std::vector<std::string> boxes;
};

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

}  // namespace

SessionResult RunSession(const SessionSetup& setup, Watchdog& watchdog) {
  BoxRecorder boxes;
  ConsoleView view(boxes);
  auto dialog = std::make_unique<CKv5UpdatorDlg>(view, setup.midi, setup.timer, 1, setup.timing,
                                                 kCompletionLimitMs);
  SessionResult result;
  const Clock::time_point start = Clock::now();
  watchdog.Arm(start + setup.bound + setup.teardownLimit, "a session");
  // It writes the in-process virtual unit only: nothing to ask.
  dialog->GuardTestPackage(false);
  dialog->OnInitDialog();
  dialog->OnExecute();

  const Clock::time_point deadline = start + setup.bound;
  const Clock::time_point closeAt =
      setup.closeAfter ? start + *setup.closeAfter : Clock::time_point::max();
  auto settled = [&] { return !dialog->Busy() && !dialog->WorkerRunning(); };
  view.RunUntil([&] { return settled() || Clock::now() >= deadline || Clock::now() >= closeAt; });
  result.duration = Since(start);

  const std::string status = view.ControlText(IDC_STATUS_LINE);
  const bool completed = status == LoadString(IDS_UPDATE_COMPLETED);
  if (settled()) {
    if (completed) {
      result.end = SessionEnd::Completed;
      if (!boxes.boxes.empty()) result.broken = "reported success after an error box";
    } else {
      result.end = SessionEnd::Failed;
      result.message = boxes.boxes.empty() ? "no message" : boxes.boxes.front();
    }
  } else if (Clock::now() >= closeAt && Clock::now() < deadline) {
    result.end = SessionEnd::Aborted;
  } else {
    result.end = SessionEnd::Hang;
  }

  // The window closes, whatever happened: the worker must be gone when OnDestroy returns.
  const size_t boxesBeforeClose = boxes.boxes.size();
  watchdog.Arm(Clock::now() + setup.teardownLimit, "closing the window");
  dialog->OnDestroy();
  if (dialog->WorkerRunning()) result.broken = "the worker outlived OnDestroy";
  view.RunPending();
  if (result.end == SessionEnd::Aborted && boxes.boxes.size() != boxesBeforeClose) {
    result.broken = "an error box after the window closed";
  }
  dialog.reset();
  view.Close();
  watchdog.Disarm();

  if (result.end == SessionEnd::Completed) {
    // Success means every acknowledged write is in the flash: nothing may still be on its way
    // that changes it, so the unit is first allowed to finish what it received.
    setup.unit.WaitIdle(std::chrono::seconds(10));
    const PackageVerification verification = setup.unit.VerifyPackage();
    result.flashMatches = verification.ok;
    if (!verification.ok) result.message = verification.message;
  }
  return result;
}

}  // namespace kv5::soak
