// Other programs on the sequencer, as the tests of the backend need them: a plain client with the
// library's default settings (it sends a SysEx as one event, or stops reading), and the raw MIDI
// side of a virtual raw MIDI port. Built for the tests only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv5 {

class PlainSeqClient {
 public:
  // nullptr with a reason when the sequencer cannot be opened.
  static std::unique_ptr<PlainSeqClient> Open(const std::string& name, std::string* error);
  ~PlainSeqClient();
  PlainSeqClient(const PlainSeqClient&) = delete;
  PlainSeqClient& operator=(const PlainSeqClient&) = delete;

  // A port others may subscribe to: readable (it sends), writable (it receives), or both; with
  // hardware, it claims to stand for a MIDI device with a line behind it. The port number, or a
  // negative error code.
  int AddPort(const std::string& name, bool readable, bool writable, bool hardware = false);
  // Shrinks or grows the kernel's input pool of the client (cells of 28 bytes).
  int SetInputPool(int cells);
  // The size of that pool now.
  int InputPool();
  // Sends the bytes as one SysEx event from port to its subscribers: 0, or a negative error code.
  int SendOneEvent(int port, const uint8_t* bytes, size_t count);
  // As a misbehaving program could: sends bytes as a SysEx event from port straight to every port
  // of the client named target, or a notice that the client named gone has ended. The number of
  // ports reached, or a negative error code.
  int SendToEveryPortOf(const std::string& target, int port, const uint8_t* bytes, size_t count);
  int SendExitNoticeToEveryPortOf(const std::string& target, int port, const std::string& gone);
  // The numbers of the ports the client so named has now.
  std::vector<int> PortsOf(const std::string& name);
  // Reads SysEx events until one ends with F7 or timeoutMs pass without an event; their bytes,
  // and in *events (if given) how many events carried them.
  std::vector<uint8_t> ReceiveSysex(int timeoutMs, int* events = nullptr);

 private:
  struct Impl;
  explicit PlainSeqClient(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// Connects the first readable port of the client named source to the first writable port of the
// client named dest, as a patchbay does; the connection outlives this call. False with a reason.
bool ConnectSeqClients(const std::string& source, const std::string& dest, std::string* error);

class VirtualRawPort {
 public:
  // Opens both directions of the first virtual raw MIDI port with 64 KiB buffers (the default
  // 4096 bytes would drop large SysEx); nullptr with a reason.
  static std::unique_ptr<VirtualRawPort> Open(std::string* error);
  ~VirtualRawPort();
  VirtualRawPort(const VirtualRawPort&) = delete;
  VirtualRawPort& operator=(const VirtualRawPort&) = delete;

  // The name of the sequencer client that stands for this port.
  std::string ClientName() const;
  // Writes all bytes and waits until they have left (Put, then Drain); false on an error.
  bool Write(const uint8_t* bytes, size_t count);
  // Hands all bytes to the kernel with blocking writes, as a plain program does; false on an
  // error. The driver may still be taking them when this returns.
  bool Put(const uint8_t* bytes, size_t count);
  // The library's drain: until the driver has taken every byte, and then the driver's own drain
  // (for virtual raw MIDI, which has none, a fixed sleep of the kernel's).
  bool Drain();
  // Until the kernel's output buffer is empty, looking at its state every 20 microseconds.
  bool WaitEmpty();
  // Reads until an F7 arrives or timeoutMs pass without a byte; what was read.
  std::vector<uint8_t> ReadSysex(int timeoutMs);

 private:
  struct Impl;
  explicit VirtualRawPort(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace kv5
