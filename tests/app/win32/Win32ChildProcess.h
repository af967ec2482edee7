// A program started by a test with pipes on its standard input and output: the test reads its
// lines, closes its input to let it end, and waits for it. The destructor ends a child still
// running.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "ui/win32/Win32.h"

namespace kv5::test {

class Win32Child {
 public:
  explicit Win32Child(const std::string& program);
  ~Win32Child();
  Win32Child(const Win32Child&) = delete;
  Win32Child& operator=(const Win32Child&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  // The next line of output without its line end; nullopt at end of output or the time limit.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // The system's error code of the last failed read of the output (0: none failed).
  DWORD LastReadError() const { return lastError_; }
  void CloseInput();
  // The exit code; nullopt while still running at the limit.
  std::optional<DWORD> Wait(std::chrono::milliseconds limit);

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
  HANDLE input_ = nullptr;   // our end of the child's standard input
  HANDLE output_ = nullptr;  // our end of the child's standard output
  std::string pending_;
  DWORD lastError_ = 0;
};

// The visible top-level windows of a process with the given window class.
std::vector<HWND> WindowsOfProcess(DWORD processId, const char* className);
std::string WindowText(HWND window);

}  // namespace kv5::test
