#include "Win32ChildProcess.h"

#include <thread>

namespace kv5::test {
namespace {

void CloseIfOpen(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

Win32Child::Win32Child(const std::string& program) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childInput = nullptr, childOutput = nullptr;
  if (!CreatePipe(&childInput, &input_, &inherit, 0)) return;
  if (!CreatePipe(&output_, &childOutput, &inherit, 0)) {
    CloseIfOpen(childInput);
    return;
  }
  // Our ends stay ours.
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput;
  startup.hStdOutput = childOutput;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  std::string commandLine = "\"" + program + "\"";
  if (CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &started)) {
    process_ = started.hProcess;
    id_ = started.dwProcessId;
    CloseHandle(started.hThread);
  }
  CloseIfOpen(childInput);
  CloseIfOpen(childOutput);
}

Win32Child::~Win32Child() {
  CloseInput();
  if (process_ != nullptr) {
    if (!Wait(std::chrono::seconds(5))) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    CloseIfOpen(process_);
  }
  CloseIfOpen(output_);
}

std::optional<std::string> Win32Child::ReadLine(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    DWORD available = 0;
    if (output_ == nullptr) return std::nullopt;
    if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
      lastError_ = GetLastError();
      // A broken pipe is the child's end closed; any other failure may pass, so look again
      // until the time limit.
      if (lastError_ == ERROR_BROKEN_PIPE) return std::nullopt;
      available = 0;
    }
    if (available > 0) {
      char buffer[256];
      DWORD read = 0;
      if (!ReadFile(output_, buffer, sizeof buffer, &read, nullptr) || read == 0) {
        lastError_ = GetLastError();
        return std::nullopt;
      }
      pending_.append(buffer, read);
      continue;
    }
    if (std::chrono::steady_clock::now() > end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void Win32Child::CloseInput() {
  CloseIfOpen(input_);
}

std::optional<DWORD> Win32Child::Wait(std::chrono::milliseconds limit) {
  if (process_ == nullptr) return std::nullopt;
  if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
    return std::nullopt;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::vector<HWND> WindowsOfProcess(DWORD processId, const char* className) {
  struct Search {
    DWORD processId;
    std::string className;
    std::vector<HWND> found;
  } search{processId, className, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* search = reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char name[256] = {};
        GetClassNameA(window, name, sizeof name);
        if (owner == search->processId && IsWindowVisible(window) && search->className == name)
          search->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace kv5::test
