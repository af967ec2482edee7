// The application object: claims an instance slot and runs the updater dialog in it, or refuses
// to start when all twenty slots are taken. The toolkit is reached through an AppShell, and the
// platform's services through factories that tests replace.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/InstanceSlots.h"
#include "platform/instance/InstanceLock.h"
#include "platform/midi/MidiBackend.h"
#include "platform/timer/TimerServices.h"
#include "protocol/SessionTiming.h"

namespace kv5 {

// What start-up needs of the window toolkit.
class AppShell {
 public:
  virtual ~AppShell() = default;
  // Runs the updater dialog modally in the slot; returns when the dialog has ended.
  virtual void RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                                const SessionTiming& timing) = 0;
  // A plain application message box: exclamation icon, the application's name as caption, OK.
  virtual void ShowApplicationMessage(const std::string& text) = 0;
};

struct AppPlatform {
  ClaimFunction claim = &ClaimInstanceLock;
  std::function<std::unique_ptr<MidiBackend>()> openMidi;     // default: OpenDefaultMidiSystem
  std::function<std::unique_ptr<TimerServices>()> makeTimer;  // default: MakeSystemTimerServices
};

class CKv5UpdatorApp {
 public:
  explicit CKv5UpdatorApp(AppPlatform platform = {});
  ~CKv5UpdatorApp();
  CKv5UpdatorApp(const CKv5UpdatorApp&) = delete;
  CKv5UpdatorApp& operator=(const CKv5UpdatorApp&) = delete;

  // Claims the lowest free slot and runs the dialog there, or shows the refusal. Always false:
  // the program's work is done when the dialog has ended.
  bool InitInstance(AppShell& shell);

  // 0 until a slot is claimed, then 1..20; the slot's lock is held as long as this object lives.
  int InstanceIndex() const { return instanceIndex_; }

 private:
  AppPlatform platform_;
  std::unique_ptr<InstanceLock> InstanceMutex;
  int instanceIndex_ = 0;
};

}  // namespace kv5
