#include "platform/midi/jack/JackClient.h"

#include <jack/midiport.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <thread>

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;

// libjack prints its diagnostics to stderr; the programs report a reason of their own instead.
void QuietLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
  });
}

template <typename Ready>
bool WaitUntil(Ready ready, std::chrono::milliseconds limit,
               std::chrono::microseconds step = std::chrono::microseconds(500)) {
  const auto deadline = Clock::now() + limit;
  while (!ready()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
  }
  return true;
}

}  // namespace

std::string DescribeJackStatus(jack_status_t status, const std::string& name) {
  if (status & JackServerFailed) return "no JACK server is running";
  if (status & JackNameNotUnique) return "a JACK client named \"" + name + "\" already exists";
  if (status & JackVersionError) return "the JACK server speaks another protocol version";
  if (status & JackShmFailure) return "JACK shared memory is not accessible";
  if (status & JackServerError) return "the JACK server refused the client";
  return "the JACK client \"" + name + "\" could not be opened";
}

std::unique_ptr<JackClient> JackClient::Open(const std::string& name, bool exactName,
                                             std::string* error) {
  QuietLibrary();
  if (name.empty() || name.size() >= static_cast<size_t>(jack_client_name_size())) {
    *error = "the JACK client name \"" + name + "\" is empty or too long";
    return nullptr;
  }
  const int options = JackNoStartServer | (exactName ? JackUseExactName : 0);
  jack_status_t status{};
  jack_client_t* handle =
      jack_client_open(name.c_str(), static_cast<jack_options_t>(options), &status);
  if (handle == nullptr) {
    *error = DescribeJackStatus(status, name);
    return nullptr;
  }
  auto client = std::make_unique<JackClient>(handle);
  jack_on_shutdown(handle, &JackClient::ShutdownThunk, client.get());
  if (jack_set_port_registration_callback(handle, &JackClient::RegistrationThunk, client.get()) !=
          0 ||
      jack_set_process_callback(handle, &JackClient::ProcessThunk, client.get()) != 0 ||
      jack_activate(handle) != 0) {
    *error = "the JACK client \"" + name + "\" could not be activated";
    return nullptr;
  }
  client->active_ = true;
  return client;
}

JackClient::JackClient(jack_client_t* client)
    : client_(client), name_(jack_get_client_name(client)) {
  sem_init(&changed_, 0, 0);
}

JackClient::~JackClient() {
  CloseConnection();
  sem_destroy(&changed_);
}

void JackClient::CloseConnection() {
  if (client_ == nullptr) return;
  Deactivate();
  // libjack crashes closing a client whose server died: that handle is left as it is, a few
  // kilobytes for each server that went away under a running program.
  if (!serverGone_.exchange(true)) jack_client_close(client_);
  client_ = nullptr;
}

bool JackClient::WaitForChange(std::chrono::milliseconds limit) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const long long nanos = deadline.tv_nsec + static_cast<long long>(limit.count()) * 1000000;
  deadline.tv_sec += static_cast<time_t>(nanos / 1000000000);
  deadline.tv_nsec = static_cast<long>(nanos % 1000000000);
  int result = 0;
  while ((result = sem_timedwait(&changed_, &deadline)) != 0 && errno == EINTR) {
  }
  if (result != 0) return false;
  while (sem_trywait(&changed_) == 0) {
  }
  return true;
}

void JackClient::WakeChangeWaiter() {
  sem_post(&changed_);
}

void JackClient::Deactivate() {
  if (!active_) return;
  active_ = false;
  if (!ServerGone()) jack_deactivate(client_);
  // Whatever the server did, no later cycle may touch a stream.
  for (auto& slot : streams_) slot.store(nullptr);
  WaitUntil([this] { return (epoch_.load() & 1) == 0; }, std::chrono::milliseconds(2000));
}

jack_port_t* JackClient::RegisterMidiPort(const std::string& base, bool input) {
  if (ServerGone()) return nullptr;
  const unsigned long flags = input ? JackPortIsInput : JackPortIsOutput;
  for (int n = 1; n <= static_cast<int>(kMaxStreams) + 1; ++n) {
    const std::string name = n == 1 ? base : base + "_" + std::to_string(n);
    if (jack_port_by_name(client_, (Name() + ":" + name).c_str()) != nullptr) continue;
    if (jack_port_t* port =
            jack_port_register(client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0)) {
      return port;
    }
  }
  return nullptr;
}

void JackClient::UnregisterPort(jack_port_t* port) {
  if (port != nullptr && !ServerGone()) jack_port_unregister(client_, port);
}

std::string JackClient::PortName(jack_port_t* port) const {
  return ServerGone() ? std::string() : std::string(jack_port_name(port));
}

bool JackClient::HasPort(const std::string& name) const {
  return !ServerGone() && jack_port_by_name(client_, name.c_str()) != nullptr;
}

bool JackClient::Attach(JackProcessStream* stream) {
  for (auto& slot : streams_) {
    JackProcessStream* expected = nullptr;
    if (slot.compare_exchange_strong(expected, stream)) return true;
  }
  return false;
}

void JackClient::Detach(JackProcessStream* stream) {
  for (auto& slot : streams_) {
    JackProcessStream* expected = stream;
    slot.compare_exchange_strong(expected, nullptr);
  }
  // A cycle that began before the slot was cleared may still use the stream: wait for its end.
  // Every access here is sequentially consistent, so a cycle that starts later sees the cleared
  // slot. The callback never blocks, so the wait is short; the bound guards a vanished server.
  const uint64_t epoch = epoch_.load();
  if (epoch & 1) {
    WaitUntil([&] { return epoch_.load() != epoch; }, std::chrono::milliseconds(2000),
              std::chrono::microseconds(50));
  }
}

bool JackClient::WaitForCycles(int cycles, std::chrono::milliseconds limit) const {
  // Round up to the end of the cycle that may be running now, then count whole cycles.
  const uint64_t start = (epoch_.load() + 1) & ~uint64_t{1};
  const uint64_t target = start + 2 * static_cast<uint64_t>(cycles);
  if (!active_) return false;
  const auto deadline = Clock::now() + limit;
  while (epoch_.load() < target) {
    if (ServerGone() || Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

bool JackClient::ConnectAndWait(const std::string& source, const std::string& destination,
                                jack_port_t* ours, const std::string& theirs,
                                std::chrono::milliseconds limit) {
  if (ServerGone()) return false;
  const int result = jack_connect(client_, source.c_str(), destination.c_str());
  if (result != 0 && result != EEXIST) return false;
  const auto start = Clock::now();
  // jack_connect returns before the running graph holds the connection; data written in a cycle
  // before that is lost.
  if (!WaitUntil([&] { return jack_port_connected_to(ours, theirs.c_str()) != 0; }, limit)) {
    return false;
  }
  const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  return WaitForCycles(2, limit > spent ? limit - spent : std::chrono::milliseconds(0));
}

int JackClient::ProcessThunk(jack_nframes_t frames, void* self) {
  return static_cast<JackClient*>(self)->OnProcess(frames);
}

void JackClient::ShutdownThunk(void* self) {
  auto* client = static_cast<JackClient*>(self);
  client->serverGone_ = true;
  sem_post(&client->changed_);  // safe where the callback runs: as in a signal handler
}

void JackClient::RegistrationThunk(jack_port_id_t, int registered, void* self) {
  // Which port went is looked up by the observer, off JACK's notification thread.
  if (!registered) sem_post(&static_cast<JackClient*>(self)->changed_);
}

int JackClient::OnProcess(jack_nframes_t frames) noexcept {
  epoch_.fetch_add(1);
  for (auto& slot : streams_) {
    if (JackProcessStream* stream = slot.load()) stream->Process(frames);
  }
  epoch_.fetch_add(1);
  return 0;
}

}  // namespace kv5
