// A program started by a test with pipes on its standard input and output: the test reads its
// lines, closes its input to let it end, signals it, and reaps it. The destructor kills and reaps
// a child still running.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kv5::test {

class Child {
 public:
  // extraEnvironment entries ("NAME=value") are added to this process's; quiet sends the child's
  // output to /dev/null instead of the pipe.
  Child(const std::string& program, const std::vector<std::string>& extraEnvironment = {},
        bool quiet = false);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  // The next line of output, without its newline; nullopt at end of output or the time limit.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  void CloseInput();
  void Signal(int number);
  // The exit code (128 + signal when killed by one); nullopt when still running at the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit);

 private:
  pid_t pid_ = -1;
  int inFd_ = -1;
  int outFd_ = -1;
  std::string pending_;
  std::optional<int> exitCode_;
};

}  // namespace kv5::test
