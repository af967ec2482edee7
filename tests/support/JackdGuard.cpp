// Keeps one jackd for a test and makes sure it ends and leaves no shared memory behind, however
// the test ends:
//
//   kv5_jackd_guard <server name> <log file> <stop limit ms> <jackd> <jackd arguments...>
//
// The guard leaves the test's process tree, since a test runner that kills a timed-out test's
// tree with SIGKILL would give the server no chance to clean up. It starts jackd (output to the
// log file), prints "guard <pid>" and "jackd <pid>", and waits. When its standard input ends (the
// test stops the server, or the test process died) it stops jackd: SIGTERM, SIGKILL past the
// limit. When jackd has ended, by the guard or on its own, the guard removes what jackd left
// under /dev/shm and frees its registry slot, prints "stopped <killed 0|1> <files removed>" and
// exits. Guards take a machine-wide lock before they start jackd, so their servers never
// overlap.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/JackShmFiles.h"

namespace {

constexpr const char* kMachineLockPath = "/tmp/kv5-jackd-guard.lock";

volatile sig_atomic_t stopRequested = 0;

void OnStopSignal(int) {
  stopRequested = 1;
}

pid_t StartJackd(const std::string& log, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGTERM);  // should the guard itself be killed
  const int devNull = open("/dev/null", O_RDONLY);
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  dup2(devNull, STDIN_FILENO);
  dup2(logFd, STDOUT_FILENO);
  dup2(logFd, STDERR_FILENO);
  close_range(3, ~0u, 0);
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

bool Reaped(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <server name> <log> <stop limit ms> <jackd> [args...]\n",
                 argv[0]);
    return 2;
  }
  const std::string name = argv[1];
  const std::string log = argv[2];
  const auto stopLimit = std::chrono::milliseconds(std::stoi(argv[3]));
  const std::vector<std::string> jackdArgs(argv + 4, argv + argc);

  // Out of the test's process tree: the parent returns at once, the guard lives on.
  const pid_t detached = fork();
  if (detached < 0) return 1;
  if (detached > 0) return 0;
  setsid();
  const int devNull = open("/dev/null", O_WRONLY);
  dup2(devNull, STDERR_FILENO);  // the test runner's pipes must not wait for the guard
  close(devNull);
  signal(SIGPIPE, SIG_IGN);  // the reader may be gone when the guard reports
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGHUP, &stop, nullptr);

  std::printf("guard %d\n", static_cast<int>(getpid()));
  std::fflush(stdout);
  // One server at a time on this machine: clients of two servers that start and stop side by
  // side have been refused now and then (status 0x21). The lock is held until the server's
  // files are gone, and the kernel releases it however the guard ends.
  const int machineLock = open(kMachineLockPath, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (machineLock >= 0) {
    while (flock(machineLock, LOCK_EX) != 0 && errno == EINTR && !stopRequested) {
    }
  }
  // Under the lock no server of ours runs: a metadata environment nobody maps is a killed
  // server's, and one left half made would keep jackd from ever accepting clients.
  kv5::test::RemoveStaleJackMetadata(kv5::test::JackMetadataDir());
  const pid_t jackd = stopRequested ? -1 : StartJackd(log, jackdArgs);
  std::printf("jackd %d\n", static_cast<int>(jackd));
  std::fflush(stdout);

  std::vector<kv5::test::ShmSegment> segments;
  bool ended = jackd < 0;
  while (!ended && !stopRequested) {
    // Segments are noted while jackd runs: after a crash its memory map is gone.
    kv5::test::AddMappedJackSegments(jackd, &segments);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 100) > 0) {
      char chunk[64];
      const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
      if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) break;
    }
    ended = Reaped(jackd);
  }

  bool killed = false;
  // jackd's clean end removes the metadata environment, which a server we did not start may use.
  const std::string metadata = kv5::test::JackMetadataDir();
  const std::string kept = "/dev/shm/kv5-kept-metadata-" + name;
  if (!ended) {
    kv5::test::AddMappedJackSegments(jackd, &segments);
    kv5::test::KeepJackMetadata(metadata, kept);
    kill(jackd, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopLimit;
    while (!(ended = Reaped(jackd)) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!ended) {
      kill(jackd, SIGKILL);
      killed = true;
      waitpid(jackd, nullptr, 0);
    }
  }
  kv5::test::RestoreJackMetadata(metadata, kept);
  int removed = kv5::test::RemoveJackServerFiles(segments, name);
  if (killed) removed += kv5::test::RemoveStaleJackMetadata(kv5::test::JackMetadataDir());
  kv5::test::ForgetDeadJackServer(name);  // a killed server still holds its registry slot
  std::printf("stopped %d %d\n", killed ? 1 : 0, removed);
  std::fflush(stdout);
  return 0;
}
