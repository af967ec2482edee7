// A private JACK server for one test: jackd on the dummy driver under a name of its own, which
// this process's JACK clients use (JACK_DEFAULT_SERVER) until it stops. It always stops: on
// Stop, in the destructor, at exit, and when the test process dies in any way, since a guard
// process (kv5_jackd_guard) outside the test's process tree stops it as soon as the test's end
// of a pipe closes. Stopping leaves no shared memory behind.
//
// libjack keeps the state of one server per process: with two servers running, close every
// client of one before opening a client of the other.
//
//   class MyTest : public ::testing::Test {
//    protected:
//     void SetUp() override { ASSERT_TRUE(server_.Start(&error_)) << error_; }
//     kv5::test::JackServer server_;
//     std::string error_;
//   };
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/JackShmFiles.h"

namespace kv5::test {

class JackServer {
 public:
  struct Options {
    int sampleRate = 48000;
    int period = 256;
    // Synchronous mode: a client whose cycle runs late delays the server instead of losing data.
    bool synchronous = true;
    // How long the server waits for a client's cycle. Long, for clients slowed down by the
    // sanitizers; but a client that dies without closing stalls a synchronous server for ten
    // times this, and such a server does not end on SIGTERM (it is killed past stopLimit). End
    // clients gently, or stop the server before them.
    int clientTimeoutMs = 2000;
    std::chrono::milliseconds startLimit{10000};
    std::chrono::milliseconds stopLimit{3000};
  };

  JackServer();
  explicit JackServer(const Options& options);
  ~JackServer();
  JackServer(const JackServer&) = delete;
  JackServer& operator=(const JackServer&) = delete;

  // Starts jackd with a new unique name, sets JACK_DEFAULT_SERVER to it, and returns once a
  // client can connect. false with a reason (and jackd's output) otherwise.
  bool Start(std::string* error);
  // SIGTERM, wait (then SIGKILL past the limit), remove whatever shared memory files of this
  // server are left, and restore JACK_DEFAULT_SERVER. Harmless when not running.
  void Stop();
  // Kills jackd with SIGKILL, as a crash would, and returns once the guard has tidied up.
  void Crash();

  bool Running() const;
  const std::string& Name() const { return name_; }
  pid_t Pid() const { return jackd_; }
  pid_t GuardPid() const { return guard_; }
  // Files of this server under /dev/shm that exist now (segments it mapped, its sockets and
  // semaphores).
  std::vector<std::string> ShmFiles() const;
  // How many leftover files the last stop had to remove (0 after a clean shutdown).
  int RemovedByLastStop() const { return removedByLastStop_; }
  // The last stop had to kill jackd.
  bool KilledByLastStop() const { return killedByLastStop_; }

  // The end of jackd's output, for a failing test to show.
  std::string LogTail() const;

  // The jackd found when the tests were configured; empty when none.
  static std::string JackdPath();
  // A server name that no server uses (for tests of "no server").
  static std::string UniqueName();

 private:
  bool WaitUntilReady(std::string* error);
  // Waits for the guard's last report; false when it did not come in time.
  bool AwaitGuard(std::chrono::milliseconds limit);
  void RestoreEnvironment();

  Options options_;
  std::string name_;
  std::string logPath_;
  ChildProcess guardProcess_;
  pid_t guard_ = -1;
  pid_t jackd_ = -1;
  std::vector<ShmSegment> segments_;
  bool killedByLastStop_ = false;
  bool guardReported_ = false;  // the guard has ended and said what it did
  bool hadPreviousDefault_ = false;
  std::string previousDefault_;
  bool envSet_ = false;
  int removedByLastStop_ = 0;
};

}  // namespace kv5::test
