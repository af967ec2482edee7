// A program that a test starts and always ends: it gets SIGTERM when the test process dies (even
// when killed), its standard output can be read line by line, and the destructor stops it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kv5::test {

class ChildProcess {
 public:
  enum class Output {
    Pipe,     // standard output readable with ReadLine; standard error inherited
    LogFile,  // standard output and error appended to logPath
    Inherit,  // both inherited
  };

  struct Options {
    Output output = Output::Pipe;
    std::string logPath;  // for Output::LogFile
    // Added to (or replacing entries of) this process's environment: "NAME=value".
    std::vector<std::string> environment;
    // The child reads this process's standard input instead of a pipe of ours.
    bool inheritInput = false;
  };

  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts program (a path, or a name looked up in PATH) with args. Unless inheritInput is set, the
  // child's standard input is a pipe that this object holds, so a child may treat its end as a
  // request to quit. The death signal is bound to the calling thread: start children from the
  // thread that outlives them (the test's main thread).
  bool Start(const std::string& program, const std::vector<std::string>& args,
             const Options& options, std::string* error);

  // The next line of standard output without its newline; false on timeout or end of output.
  bool ReadLine(std::string* line, std::chrono::milliseconds limit);
  // Closes the child's standard input.
  void CloseInput();

  bool Running();
  // Waits for the child to end on its own; its wait status.
  int Wait();
  pid_t Pid() const { return pid_; }

  // Sends signal, waits up to limit, then kills. Returns the wait status, or -1 when no child ran.
  int Stop(int signal, std::chrono::milliseconds limit);
  // The last Stop had to kill the child.
  bool KillEscalated() const { return killed_; }
  // The wait status once the child ended on its own (see Running).
  int ExitStatus() const { return status_; }

 private:
  bool Reap(bool block);

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string buffered_;
  int status_ = -1;
  bool killed_ = false;
};

}  // namespace kv5::test
