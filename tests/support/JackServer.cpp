#include "support/JackServer.h"

#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "platform/midi/jack/JackMidi.h"

#ifndef KV5_JACKD_PATH
#define KV5_JACKD_PATH ""
#endif
#ifndef KV5_JACKD_GUARD_PATH
#define KV5_JACKD_GUARD_PATH ""
#endif

#if defined(__SANITIZE_THREAD__)
// A test process may hold several JACK clients that pass MIDI buffers to each other through the
// server, which orders their cycles with futexes in shared memory that the race detector cannot
// see. A copy of event bytes that libjack made in one client's cycle is therefore not reported
// against the reading of them in another's (the process threads' own code stays checked).
extern "C" const char* __tsan_default_suppressions() {
  return "race:jack_midi_event_write\nrace:jack_midi_event_reserve\n";
}
#endif

namespace kv5::test {
namespace {

constexpr const char* kServerVariable = "JACK_DEFAULT_SERVER";
// Servers of one process may start and stop on different threads.
std::mutex& EnvironmentLock() {
  static std::mutex lock;
  return lock;
}
constexpr uint64_t kShmNeeded = 256ull << 20;
// How long a guard may wait for the servers of other tests to be gone before it starts ours.
constexpr std::chrono::seconds kGuardQueueLimit{180};

// Servers still running when the process exits normally are stopped then; a process that dies
// otherwise leaves them to their guards.
std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::set<JackServer*>& Registry() {
  static std::set<JackServer*> servers;
  return servers;
}
void StopAllAtExit() {
  std::set<JackServer*> servers;
  {
    std::lock_guard<std::mutex> hold(RegistryLock());
    servers = Registry();
  }
  for (JackServer* server : servers) server->Stop();
}
void Register(JackServer* server) {
  static std::once_flag once;
  std::call_once(once, [] {
    // Built before the handler is registered, so they are destroyed after it runs.
    RegistryLock();
    Registry();
    std::atexit(StopAllAtExit);
  });
  std::lock_guard<std::mutex> hold(RegistryLock());
  Registry().insert(server);
}
void Unregister(JackServer* server) {
  std::lock_guard<std::mutex> hold(RegistryLock());
  Registry().erase(server);
}

// A process that is gone, or a zombie that nobody reaps (a container's init may not).
bool Alive(pid_t pid) {
  if (pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string pidText, command, state;
  stat >> pidText >> command >> state;
  return state != "Z";
}

// "word <number>" from the guard.
bool ReadNumber(const std::string& line, const std::string& word, long* value) {
  if (line.compare(0, word.size() + 1, word + " ") != 0) return false;
  *value = std::strtol(line.c_str() + word.size() + 1, nullptr, 10);
  return true;
}

}  // namespace

JackServer::JackServer() : JackServer(Options{}) {}
JackServer::JackServer(const Options& options) : options_(options) {}
JackServer::~JackServer() {
  Stop();
}

std::string JackServer::JackdPath() {
  return KV5_JACKD_PATH;
}

std::string JackServer::UniqueName() {
  static std::atomic<int> counter{0};
  std::random_device random;
  std::ostringstream name;
  name << "kv5-" << getpid() << "-" << ++counter << "-" << std::hex << (random() & 0xFFFF);
  return name.str();
}

bool JackServer::Start(std::string* error) {
  if (guard_ > 0) {
    *error = "the JACK server " + name_ + " is running already";
    return false;
  }
  const std::string jackd = JackdPath();
  if (jackd.empty() || access(jackd.c_str(), X_OK) != 0) {
    *error =
        "jackd was not found; install the jackd2 package "
        "(DEBIAN_FRONTEND=noninteractive apt-get install jackd2) and configure again";
    return false;
  }
  // A server's segments are sparse files in /dev/shm; where that is smaller than they grow (a
  // container's 64 MB default) jackd starts and then dies of SIGBUS.
  struct statvfs shm {};
  if (statvfs("/dev/shm", &shm) != 0 ||
      static_cast<uint64_t>(shm.f_bavail) * shm.f_frsize < kShmNeeded) {
    *error =
        "/dev/shm has less than 256 MB free; a JACK server needs about 130 MB there "
        "(give the container a larger --shm-size)";
    return false;
  }
  name_ = UniqueName();
  const char* tmp = std::getenv("TMPDIR");
  logPath_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + name_ + ".log";
  segments_.clear();
  removedByLastStop_ = 0;
  killedByLastStop_ = false;
  guardReported_ = false;

  std::vector<std::string> args{
      name_, logPath_, std::to_string(options_.stopLimit.count()), jackd, "--no-realtime", "-n",
      name_, "-t",     std::to_string(options_.clientTimeoutMs)};
  if (options_.synchronous) args.push_back("-S");
  args.insert(args.end(), {"-d", "dummy", "-r", std::to_string(options_.sampleRate), "-p",
                           std::to_string(options_.period)});
  ChildProcess::Options child;
  child.output = ChildProcess::Output::Pipe;
  child.environment = {"JACK_NO_AUDIO_RESERVATION=1"};
  if (!guardProcess_.Start(KV5_JACKD_GUARD_PATH, args, child, error)) return false;
  Register(this);
  std::string line;
  long value = 0;
  // The guard waits for any other test's server to be gone before it starts jackd.
  const auto deadline = std::chrono::steady_clock::now() + kGuardQueueLimit;
  while (guardProcess_.ReadLine(&line, std::chrono::duration_cast<std::chrono::milliseconds>(
                                           deadline - std::chrono::steady_clock::now()))) {
    if (ReadNumber(line, "guard", &value)) guard_ = static_cast<pid_t>(value);
    if (ReadNumber(line, "jackd", &value)) {
      jackd_ = static_cast<pid_t>(value);
      break;
    }
  }

  {
    std::lock_guard<std::mutex> hold(EnvironmentLock());
    const char* previous = std::getenv(kServerVariable);
    hadPreviousDefault_ = previous != nullptr;
    previousDefault_ = previous != nullptr ? previous : "";
    setenv(kServerVariable, name_.c_str(), 1);
    envSet_ = true;
  }

  if (jackd_ <= 0) {
    *error = "the jackd guard did not start jackd";
  } else if (WaitUntilReady(error)) {
    AddMappedJackSegments(jackd_, &segments_);
    return true;
  }
  *error += LogTail();
  Stop();
  return false;
}

bool JackServer::WaitUntilReady(std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + options_.startLimit;
  JackConfig probe;
  probe.clientName = "kv5-probe";
  std::string reason;
  for (;;) {
    if (!Alive(jackd_)) {
      *error = "jackd " + name_ + " ended during start-up";
      return false;
    }
    if (OpenJackMidi(probe, &reason) != nullptr) return true;
    if (std::chrono::steady_clock::now() >= deadline) {
      *error = "jackd " + name_ + " did not accept clients in time (" + reason + ")";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool JackServer::AwaitGuard(std::chrono::milliseconds limit) {
  std::string line;
  while (guardProcess_.ReadLine(&line, limit)) {
    long killed = 0;
    if (ReadNumber(line, "stopped", &killed)) {
      killedByLastStop_ = killed != 0;
      guardReported_ = true;
      removedByLastStop_ += std::atoi(line.c_str() + line.rfind(' ') + 1);
      return true;
    }
  }
  return false;
}

void JackServer::Stop() {
  if (guard_ > 0) {
    AddMappedJackSegments(jackd_, &segments_);  // clients may have added segments since start
    guardProcess_.CloseInput();
    // The guard waits stopLimit before it kills; give it that and a little more.
    if (!guardReported_ && !AwaitGuard(options_.stopLimit + std::chrono::seconds(3))) {
      if (Alive(jackd_)) kill(jackd_, SIGKILL);
      if (Alive(guard_)) kill(guard_, SIGKILL);
      killedByLastStop_ = true;
    }
    guardProcess_.Stop(SIGTERM, std::chrono::seconds(1));  // reaps the guard's launcher
    guard_ = -1;
    jackd_ = -1;
  }
  Unregister(this);
  // The guard has removed what it knew of; this is what the test process knew.
  if (!name_.empty()) {
    removedByLastStop_ += RemoveJackServerFiles(segments_, name_);
    ForgetDeadJackServer(name_);
  }
  segments_.clear();
  if (killedByLastStop_) {
    std::fprintf(stderr, "jackd %s did not end on SIGTERM and was killed%s\n", name_.c_str(),
                 LogTail().c_str());
  }
  if (!logPath_.empty()) unlink(logPath_.c_str());
  RestoreEnvironment();
}

void JackServer::Crash() {
  if (jackd_ <= 0) return;
  AddMappedJackSegments(jackd_, &segments_);
  kill(jackd_, SIGKILL);
  AwaitGuard(options_.stopLimit + std::chrono::seconds(3));
  jackd_ = -1;
  // The guard notes segments every 100 ms; what jackd mapped since its last look, this process
  // noted just before the kill.
  removedByLastStop_ += RemoveJackServerFiles(segments_, name_);
}

void JackServer::RestoreEnvironment() {
  if (!envSet_) return;
  std::lock_guard<std::mutex> hold(EnvironmentLock());
  envSet_ = false;
  // A server started since has made itself the default: its clients must keep finding it.
  const char* current = std::getenv(kServerVariable);
  if (current == nullptr || name_ != current) return;
  if (hadPreviousDefault_) {
    setenv(kServerVariable, previousDefault_.c_str(), 1);
  } else {
    unsetenv(kServerVariable);
  }
}

bool JackServer::Running() const {
  return Alive(jackd_);
}

std::vector<std::string> JackServer::ShmFiles() const {
  return JackServerFiles(segments_, name_);
}

std::string JackServer::LogTail() const {
  std::ifstream log(logPath_);
  std::stringstream text;
  text << log.rdbuf();
  std::string all = text.str();
  if (all.size() > 2000) all = all.substr(all.size() - 2000);
  return all.empty() ? std::string() : "\n--- jackd output ---\n" + all;
}

}  // namespace kv5::test
