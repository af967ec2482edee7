#include "app/win32/Win32Shell.h"

#include "ui/win32/Win32.h"
#include "ui/win32/Win32UpdaterDialog.h"

namespace kv5 {

Win32Shell::Win32Shell() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  // The eight classic classes: list view, tree view, bars, tabs, up-down, progress, hot key,
  // animation.
  controls.dwICC = 0xFF;
  InitCommonControlsEx(&controls);
}

void Win32Shell::RunUpdaterDialog(MidiBackend& midi, TimerServices& timer, int instanceIndex,
                                  const SessionTiming& timing) {
  Win32UpdaterDialog dialog(midi, timer, instanceIndex, timing);
  dialog.DoModal();
}

void Win32Shell::ShowApplicationMessage(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), ApplicationName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

std::string ApplicationName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace kv5
