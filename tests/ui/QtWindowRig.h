// What the Qt window tests share: the window over the recording fake or over a virtual unit, a
// fast timing table, the controls by id, the enabled states at a glance and dialog-unit sums.
#pragma once

#include <QApplication>
#include <QFontMetrics>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "support/FastTiming.h"
#include "support/RecordingMidi.h"
#include "platform/midi/loopback/LoopbackMidi.h"
#include "support/RecordingTimerServices.h"
#include "platform/timer/TimerServices.h"
#include "ui/qt/QtUpdaterDialog.h"
#include "unit/VirtualUnit.h"

namespace kv5::qttest {

// Whether a rig's window guards the test package. Off, it is the window of a release build;
// the guard's own tests turn it on.
enum class Guard { Off, On };

// The window over the recording fake: device lists, port failures, nothing answers.
struct FakeRig {
  explicit FakeRig(int instance = 1, std::vector<std::string> devices = {"TELVOR Q9"},
                   Guard guard = Guard::Off) {
    midi.SetInputDevices(devices);
    midi.SetOutputDevices(devices);
    dialog = std::make_unique<QtUpdaterDialog>(midi, timer, instance, FastTiming(), 2000);
    dialog->Logic().GuardTestPackage(guard == Guard::On);
    dialog->Show();
    // Shortcuts and mnemonics reach the active window only.
    QApplication::setActiveWindow(&Window());
  }
  QtUpdaterWindow& Window() { return dialog->Window(); }
  RecordingMidi midi;
  RecordingTimerServices timer;
  std::unique_ptr<QtUpdaterDialog> dialog;
};

// The window over the loopback with a virtual unit and the system timer.
struct UnitRig {
  explicit UnitRig(UnitConfig config = {}, Guard guard = Guard::Off)
      : timer(MakeSystemTimerServices()), unit(midi.AddDevice("TELVOR Q9"), std::move(config)) {
    unit.Start();
    dialog = std::make_unique<QtUpdaterDialog>(midi, *timer, 1, FastTiming());
    dialog->Logic().GuardTestPackage(guard == Guard::On);
    dialog->Show();
  }
  QtUpdaterWindow& Window() { return dialog->Window(); }
  bool Settled() { return !dialog->Logic().Busy() && !dialog->Logic().WorkerRunning(); }
  LoopbackMidi midi;
  std::unique_ptr<TimerServices> timer;
  VirtualUnit unit;
  std::unique_ptr<QtUpdaterDialog> dialog;
};

template <typename T>
T* Get(QtUpdaterWindow& window, int id) {
  return dynamic_cast<T*>(window.Control(id));
}

inline QString States(QtUpdaterWindow& window) {
  auto on = [&](int id) { return window.Control(id)->isEnabled() ? QChar('1') : QChar('0'); };
  return QString() + on(IDC_IN_DEVICE_LIST) + on(IDC_OUT_DEVICE_LIST) + ' ' + on(IDC_EXECUTE) +
         on(IDC_VERSION_CHECK) + ' ' + on(IDC_RESCAN) + ' ' + on(IDC_EXIT);
}
inline const QString kReady = QStringLiteral("11 11 1 1");
inline const QString kBusy = QStringLiteral("00 00 0 1");
inline const QString kUpdated = QStringLiteral("11 00 1 1");

struct Units {
  int x;
  int y;
};
// Base units measured here from the window's font, the way the dialog manager measures them.
inline Units MeasuredUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(letters / 26 + 1) / 2, metrics.height()};
}
inline int Px(int du, int base, int divisor) {
  return (du * base + divisor / 2) / divisor;
}

}  // namespace kv5::qttest
