// One unit's session of update --all, run by this same program in a process of its own: the
// exchange state of a session exists once per process, as it would for one window each. Its
// standard output and error are read line by line without blocking.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace kv5 {

class ChildSession {
 public:
  virtual ~ChildSession() = default;

  // False where sessions cannot be started in processes of their own; Start then says why.
  static bool Supported();

  // Starts this program with args (the command line after the program's name). nullptr with the
  // reason in *error when no process could be started (or the platform cannot).
  static std::unique_ptr<ChildSession> Start(const std::vector<std::string>& args,
                                             std::string* error);

  // The complete lines that arrived since the last call, without their newlines. After the
  // child ended, the last unfinished line too.
  virtual void TakeLines(std::vector<std::string>* out, std::vector<std::string>* err) = 0;
  // Asks the session to end as Ctrl-C asks one kv5update to end (once; later calls do nothing).
  virtual void Interrupt() = 0;
  // True once the process has ended and its output is read to the end.
  virtual bool Ended() = 0;
  // The exit code once Ended (128 + the signal's number when a signal ended it).
  virtual int ExitCode() const = 0;
};

}  // namespace kv5
