// One JACK client: opening it without ever starting a server, the realtime process callback that
// serves the attached streams, and the waits that let other threads hand work to that callback.
#pragma once

#include <jack/jack.h>
#include <semaphore.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace kv5 {

// Something the process callback serves once per cycle. Process runs on JACK's realtime thread:
// it must not block, lock or allocate.
class JackProcessStream {
 public:
  virtual ~JackProcessStream() = default;
  virtual void Process(jack_nframes_t frames) noexcept = 0;
};

class JackClient {
 public:
  static constexpr size_t kMaxStreams = 32;

  // An active client; nullptr with a reason when no server runs or the name is refused.
  // exactName: fail instead of letting the server rename a client whose name is taken.
  static std::unique_ptr<JackClient> Open(const std::string& name, bool exactName,
                                          std::string* error);
  explicit JackClient(jack_client_t* client);
  ~JackClient();
  JackClient(const JackClient&) = delete;
  JackClient& operator=(const JackClient&) = delete;

  // nullptr once CloseConnection has run.
  jack_client_t* Get() const { return client_; }
  const std::string& Name() const { return name_; }
  // The server shut down or dropped this client (or the connection was closed); no process cycle
  // will follow and no call reaches the server any more.
  bool ServerGone() const { return serverGone_.load(); }
  // Closes the connection of a client whose server has gone, while devices opened on it may
  // still hold this object: they see ServerGone and leave the library alone.
  void CloseConnection();

  // Waits up to limit for a notice that a port went away or the server shut down; true when one
  // came (several notices may come as one).
  bool WaitForChange(std::chrono::milliseconds limit);
  // Wakes a WaitForChange without a notice.
  void WakeChangeWaiter();

  // A MIDI port with the first free name of base, base_2, base_3, ...; nullptr on failure.
  jack_port_t* RegisterMidiPort(const std::string& base, bool input);
  void UnregisterPort(jack_port_t* port);
  std::string PortName(jack_port_t* port) const;
  // The server still has a port of this full name; false once the server has gone.
  bool HasPort(const std::string& name) const;

  // The process callback serves the stream from its next cycle on; false when all slots are used.
  bool Attach(JackProcessStream* stream);
  // Returns once the process callback no longer uses the stream and never will again.
  void Detach(JackProcessStream* stream);

  // Connects source to destination and waits until the server's current graph holds the
  // connection and two more cycles have run, so data written from now on reaches the far port.
  bool ConnectAndWait(const std::string& source, const std::string& destination, jack_port_t* ours,
                      const std::string& theirs, std::chrono::milliseconds limit);

  // Waits until `cycles` complete process cycles have run after the call; false on timeout.
  bool WaitForCycles(int cycles, std::chrono::milliseconds limit) const;

  // Stops the process callback for good; after it no stream is used any more.
  void Deactivate();
  bool Active() const { return active_; }

 private:
  static int ProcessThunk(jack_nframes_t frames, void* self);
  static void ShutdownThunk(void* self);
  static void RegistrationThunk(jack_port_id_t port, int registered, void* self);
  int OnProcess(jack_nframes_t frames) noexcept;

  jack_client_t* client_ = nullptr;
  std::string name_;
  // Posted by JACK's notification thread and the shutdown callback, which may do little more.
  sem_t changed_{};
  bool active_ = false;
  std::array<std::atomic<JackProcessStream*>, kMaxStreams> streams_{};
  // Odd while a process cycle runs; every cycle adds two.
  std::atomic<uint64_t> epoch_{0};
  std::atomic<bool> serverGone_{false};
};

// A port of a client, unregistered (and so disconnected) when this goes.
class JackPort {
 public:
  JackPort(JackClient& client, jack_port_t* port) : client_(client), port_(port) {}
  ~JackPort() { client_.UnregisterPort(port_); }
  JackPort(const JackPort&) = delete;
  JackPort& operator=(const JackPort&) = delete;
  jack_port_t* Get() const { return port_; }
  std::string Name() const { return client_.PortName(port_); }

 private:
  JackClient& client_;
  jack_port_t* const port_;
};

// The reason a client could not be opened, from the status bits of jack_client_open.
std::string DescribeJackStatus(jack_status_t status, const std::string& name);

}  // namespace kv5
