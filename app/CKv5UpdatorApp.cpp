#include "app/CKv5UpdatorApp.h"

#include "platform/midi/SystemMidi.h"

namespace kv5 {

CKv5UpdatorApp::CKv5UpdatorApp(AppPlatform platform) : platform_(std::move(platform)) {
  if (!platform_.openMidi) platform_.openMidi = &OpenDefaultMidiSystem;
  if (!platform_.makeTimer) platform_.makeTimer = &MakeSystemTimerServices;
}

CKv5UpdatorApp::~CKv5UpdatorApp() = default;

bool CKv5UpdatorApp::InitInstance(AppShell& shell) {
  instanceIndex_ = ClaimFirstFreeSlot(platform_.claim, &InstanceMutex);
  if (instanceIndex_ == 0) {
    shell.ShowApplicationMessage(TooManyInstancesMessage());
    return false;
  }
  // The services outlive the dialog that uses them.
  std::unique_ptr<MidiBackend> midi = platform_.openMidi();
  std::unique_ptr<TimerServices> timer = platform_.makeTimer();
  if (!midi) midi = MakeNoMidiBackend();
  shell.RunUpdaterDialog(*midi, *timer, instanceIndex_, kProductionTiming);
  return false;
}

}  // namespace kv5
