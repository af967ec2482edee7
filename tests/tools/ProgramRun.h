// A command-line program run to its end by a test: stdout and stderr captured apart, signals
// sent to it on demand, its exit code awaited with a deadline. (Long-running helpers such as
// servers are support/ChildProcess's business.)
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kv5::test {

class ProgramRun {
 public:
  // Starts program with args; extraEnvironment entries ("NAME=value") are added to this process's.
  ProgramRun(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& extraEnvironment = {});
  ~ProgramRun();  // kills and reaps a child still running
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Collects output until stdout holds text or the time is up.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
  void Signal(int number);
  // The exit code (128 + signal when killed by one); nullopt when still running at the limit.
  std::optional<int> Wait(std::chrono::milliseconds limit);

  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  // Reads what is available from both pipes, waiting up to limit for something.
  void Collect(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::optional<int> exitCode_;
  std::string out_;
  std::string err_;
};

}  // namespace kv5::test
