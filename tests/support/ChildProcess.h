// A program that a test starts and always ends: it gets SIGTERM when the test process dies (even
// when killed), and the destructor stops it. Its standard output can be read line by line (a
// server, the virtual unit), or both output streams captured apart (a command run to its end).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kv5::test {

class ChildProcess {
 public:
  enum class Output {
    Pipe,     // standard output readable with ReadLine; standard error inherited
    Capture,  // standard output and error collected apart: Out, Err, WaitForOutput
    LogFile,  // standard output and error appended to logPath
    Inherit,  // both inherited
    Discard,  // both to /dev/null
  };
  enum class Input {
    Pipe,     // a pipe this object holds: CloseInput lets a child that reads it end
    Inherit,  // this process's standard input
    Null,     // /dev/null
  };

  struct Options {
    Output output = Output::Pipe;
    Input input = Input::Pipe;
    std::string logPath;  // for Output::LogFile
    // Added to (or replacing entries of) this process's environment: "NAME=value".
    std::vector<std::string> environment;
  };

  ChildProcess() = default;
  // Starts at once; Started() tells whether it did.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const Options& options);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program (a path, or a name looked up in PATH) with args. The death signal is bound to
  // the calling thread: start children from the thread that outlives them (the test's main one).
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const Options& options, std::string* error);
  bool Started() const { return started_; }
  pid_t Pid() const { return pid_; }

  // Output::Pipe: the next line of standard output without its newline; false on timeout or at
  // the end of output.
  bool ReadLine(std::string* line, std::chrono::milliseconds limit);
  // Output::Capture: collects output until standard output holds text or the time is up.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit);
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }
  void CloseInput();

  void Signal(int number);
  bool Running();
  // Waits for the child to end on its own: its exit code (128 + signal when a signal ended it),
  // nullopt while it still runs at the limit. Captured output is complete afterwards.
  std::optional<int> Wait(std::chrono::milliseconds limit);
  // Waits as long as it takes; the wait status.
  int WaitStatus();

  // Sends signal, waits up to limit, then kills. Returns the wait status, or -1 when no child ran.
  int Stop(int signal, std::chrono::milliseconds limit);
  // The last Stop had to kill the child.
  bool KillEscalated() const { return killed_; }

 private:
  bool Reap(bool block);
  // Output::Capture: reads what the pipes hold, waiting up to limit for something.
  void Collect(std::chrono::milliseconds limit);
  void CloseAll();

  bool started_ = false;
  bool capture_ = false;
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::string buffered_;
  std::string out_;
  std::string err_;
  int status_ = -1;
  bool killed_ = false;
};

// The exit code a wait status stands for: 128 + signal when a signal ended the process.
int ExitCode(int waitStatus);

// A command run to its end: both output streams captured, nothing on its input.
inline ChildProcess::Options CapturedRun() {
  ChildProcess::Options options;
  options.output = ChildProcess::Output::Capture;
  options.input = ChildProcess::Input::Null;
  return options;
}

}  // namespace kv5::test
