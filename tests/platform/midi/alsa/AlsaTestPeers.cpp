#include "platform/midi/alsa/AlsaTestPeers.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace kv5 {

struct PlainSeqClient::Impl {
  snd_seq_t* seq = nullptr;
  ~Impl() {
    if (seq != nullptr) snd_seq_close(seq);
  }
};

PlainSeqClient::PlainSeqClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
PlainSeqClient::~PlainSeqClient() = default;

std::unique_ptr<PlainSeqClient> PlainSeqClient::Open(const std::string& name, std::string* error) {
  auto impl = std::make_unique<Impl>();
  const int result = snd_seq_open(&impl->seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (result < 0) {
    impl->seq = nullptr;
    *error = snd_strerror(result);
    return nullptr;
  }
  snd_seq_set_client_name(impl->seq, name.c_str());
  return std::unique_ptr<PlainSeqClient>(new PlainSeqClient(std::move(impl)));
}

int PlainSeqClient::AddPort(const std::string& name, bool readable, bool writable, bool hardware) {
  unsigned int caps = 0;
  if (readable) caps |= SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
  if (writable) caps |= SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
  const unsigned int type = SND_SEQ_PORT_TYPE_MIDI_GENERIC |
                            (hardware ? SND_SEQ_PORT_TYPE_HARDWARE | SND_SEQ_PORT_TYPE_PORT
                                      : SND_SEQ_PORT_TYPE_APPLICATION);
  return snd_seq_create_simple_port(impl_->seq, name.c_str(), caps, type);
}

int PlainSeqClient::SetInputPool(int cells) {
  return snd_seq_set_client_pool_input(impl_->seq, static_cast<size_t>(cells));
}

int PlainSeqClient::InputPool() {
  snd_seq_client_pool_t* pool = nullptr;
  if (snd_seq_client_pool_malloc(&pool) < 0) return -1;
  int cells = -1;
  if (snd_seq_get_client_pool(impl_->seq, pool) >= 0)
    cells = static_cast<int>(snd_seq_client_pool_get_input_pool(pool));
  snd_seq_client_pool_free(pool);
  return cells;
}

int PlainSeqClient::SendOneEvent(int port, const uint8_t* bytes, size_t count) {
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_seq_ev_set_source(&event, port);
  snd_seq_ev_set_subs(&event);
  snd_seq_ev_set_direct(&event);
  snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(count), const_cast<uint8_t*>(bytes));
  const int result = snd_seq_event_output_direct(impl_->seq, &event);
  return result < 0 ? result : 0;
}

namespace {

// The number of the client so named, or -1.
int ClientNamed(snd_seq_t* seq, const std::string& name) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    if (name == snd_seq_client_info_get_name(client)) return snd_seq_client_info_get_client(client);
  }
  return -1;
}

// Sends event to every port of the client so named: how many took it, or an error code.
int SendToEveryPort(snd_seq_t* seq, const std::string& target, snd_seq_event_t* event) {
  const int client = ClientNamed(seq, target);
  if (client < 0) return -ENOENT;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_port_info_alloca(&port);
  snd_seq_port_info_set_client(port, client);
  snd_seq_port_info_set_port(port, -1);
  int reached = 0;
  while (snd_seq_query_next_port(seq, port) >= 0) {
    snd_seq_ev_set_dest(event, client, snd_seq_port_info_get_port(port));
    if (snd_seq_event_output_direct(seq, event) >= 0) ++reached;
  }
  return reached;
}

}  // namespace

int PlainSeqClient::SendToEveryPortOf(const std::string& target, int port, const uint8_t* bytes,
                                      size_t count) {
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_seq_ev_set_source(&event, port);
  snd_seq_ev_set_direct(&event);
  snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(count), const_cast<uint8_t*>(bytes));
  return SendToEveryPort(impl_->seq, target, &event);
}

int PlainSeqClient::SendExitNoticeToEveryPortOf(const std::string& target, int port,
                                                const std::string& gone) {
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_seq_ev_set_source(&event, port);
  snd_seq_ev_set_direct(&event);
  event.type = SND_SEQ_EVENT_CLIENT_EXIT;
  event.data.addr.client = static_cast<unsigned char>(ClientNamed(impl_->seq, gone));
  event.data.addr.port = 0;
  return SendToEveryPort(impl_->seq, target, &event);
}

std::vector<int> PlainSeqClient::PortsOf(const std::string& name) {
  std::vector<int> ports;
  const int client = ClientNamed(impl_->seq, name);
  if (client < 0) return ports;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_port_info_alloca(&port);
  snd_seq_port_info_set_client(port, client);
  snd_seq_port_info_set_port(port, -1);
  while (snd_seq_query_next_port(impl_->seq, port) >= 0)
    ports.push_back(snd_seq_port_info_get_port(port));
  return ports;
}

std::vector<uint8_t> PlainSeqClient::ReceiveSysex(int timeoutMs, int* events) {
  std::vector<uint8_t> bytes;
  int received = 0;
  if (events == nullptr) events = &received;
  *events = 0;
  pollfd fds[4];
  const int count = snd_seq_poll_descriptors(impl_->seq, fds, 4, POLLIN);
  for (;;) {
    snd_seq_event_t* event = nullptr;
    const int result = snd_seq_event_input(impl_->seq, &event);
    if (result == -ENOSPC) continue;  // the kernel dropped events; what follows is still read
    if (result >= 0 && event != nullptr) {
      if (event->type != SND_SEQ_EVENT_SYSEX || event->data.ext.len == 0) continue;
      const auto* data = static_cast<const uint8_t*>(event->data.ext.ptr);
      bytes.insert(bytes.end(), data, data + event->data.ext.len);
      ++*events;
      if (data[event->data.ext.len - 1] == 0xF7) return bytes;
      continue;
    }
    if (result != -EAGAIN) return bytes;
    if (poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) return bytes;
  }
}

namespace {

// The first port of the named client with all these capabilities; false when there is none.
bool FindPort(snd_seq_t* seq, const std::string& name, unsigned int caps, snd_seq_addr_t* addr) {
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq, client) >= 0) {
    if (name != snd_seq_client_info_get_name(client)) continue;
    snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq, port) >= 0) {
      if ((snd_seq_port_info_get_capability(port) & caps) != caps) continue;
      *addr = *snd_seq_port_info_get_addr(port);
      return true;
    }
  }
  return false;
}

}  // namespace

bool ConnectSeqClients(const std::string& source, const std::string& dest, std::string* error) {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) {
    *error = "no sequencer";
    return false;
  }
  snd_seq_addr_t from{};
  snd_seq_addr_t to{};
  bool connected = false;
  if (!FindPort(seq, source, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ, &from)) {
    *error = "no readable port of " + source;
  } else if (!FindPort(seq, dest, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, &to)) {
    *error = "no writable port of " + dest;
  } else {
    snd_seq_port_subscribe_t* subscription = nullptr;
    snd_seq_port_subscribe_alloca(&subscription);
    snd_seq_port_subscribe_set_sender(subscription, &from);
    snd_seq_port_subscribe_set_dest(subscription, &to);
    const int result = snd_seq_subscribe_port(seq, subscription);
    connected = result >= 0 || result == -EBUSY;  // -EBUSY: connected already
    if (!connected) *error = snd_strerror(result);
  }
  snd_seq_close(seq);
  return connected;
}

struct VirtualRawPort::Impl {
  snd_rawmidi_t* in = nullptr;
  snd_rawmidi_t* out = nullptr;
  std::string clientName;
  ~Impl() {
    if (in != nullptr) snd_rawmidi_close(in);
    if (out != nullptr) snd_rawmidi_close(out);
  }
};

VirtualRawPort::VirtualRawPort(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VirtualRawPort::~VirtualRawPort() = default;

namespace {

constexpr size_t kRawBufferBytes = 64 * 1024;

int SetRawBuffer(snd_rawmidi_t* raw) {
  snd_rawmidi_params_t* params = nullptr;
  int result = snd_rawmidi_params_malloc(&params);
  if (result < 0) return result;
  result = snd_rawmidi_params_current(raw, params);
  if (result >= 0) result = snd_rawmidi_params_set_buffer_size(raw, params, kRawBufferBytes);
  if (result >= 0) result = snd_rawmidi_params(raw, params);
  snd_rawmidi_params_free(params);
  return result;
}

// The card and client name of the first virtual raw MIDI client; card -1 when there is none.
int FindVirtualRawCard(std::string* clientName) {
  snd_seq_t* seq = nullptr;
  if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return -1;
  snd_seq_client_info_t* info = nullptr;
  int card = -1;
  if (snd_seq_client_info_malloc(&info) >= 0) {
    snd_seq_client_info_set_client(info, -1);
    while (card < 0 && snd_seq_query_next_client(seq, info) >= 0) {
      const std::string name = snd_seq_client_info_get_name(info);
      if (name.rfind("Virtual Raw MIDI", 0) == 0) {
        card = snd_seq_client_info_get_card(info);
        *clientName = name;
      }
    }
    snd_seq_client_info_free(info);
  }
  snd_seq_close(seq);
  return card;
}

}  // namespace

std::unique_ptr<VirtualRawPort> VirtualRawPort::Open(std::string* error) {
  auto impl = std::make_unique<Impl>();
  const int card = FindVirtualRawCard(&impl->clientName);
  if (card < 0) {
    *error = "no virtual raw MIDI client";
    return nullptr;
  }
  const std::string device = "hw:" + std::to_string(card) + ",0";
  int result = snd_rawmidi_open(&impl->in, nullptr, device.c_str(), SND_RAWMIDI_NONBLOCK);
  if (result >= 0) result = snd_rawmidi_open(nullptr, &impl->out, device.c_str(), 0);
  if (result >= 0) result = SetRawBuffer(impl->in);
  if (result >= 0) result = SetRawBuffer(impl->out);
  if (result < 0) {
    *error = "cannot open " + device + ": " + snd_strerror(result);
    return nullptr;
  }
  // The port's input starts taking sequencer events with the first read.
  uint8_t none = 0;
  snd_rawmidi_read(impl->in, &none, 0);
  return std::unique_ptr<VirtualRawPort>(new VirtualRawPort(std::move(impl)));
}

std::string VirtualRawPort::ClientName() const {
  return impl_->clientName;
}

bool VirtualRawPort::Write(const uint8_t* bytes, size_t count) {
  return Put(bytes, count) && Drain();
}

bool VirtualRawPort::Put(const uint8_t* bytes, size_t count) {
  size_t written = 0;
  while (written < count) {
    const ssize_t result = snd_rawmidi_write(impl_->out, bytes + written, count - written);
    if (result < 0) return false;
    written += static_cast<size_t>(result);
  }
  return true;
}

bool VirtualRawPort::Drain() {
  return snd_rawmidi_drain(impl_->out) >= 0;
}

bool VirtualRawPort::WaitEmpty() {
  snd_rawmidi_status_t* status = nullptr;
  snd_rawmidi_status_alloca(&status);
  for (;;) {
    if (snd_rawmidi_status(impl_->out, status) < 0) return false;
    if (snd_rawmidi_status_get_avail(status) >= kRawBufferBytes) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
}

std::vector<uint8_t> VirtualRawPort::ReadSysex(int timeoutMs) {
  std::vector<uint8_t> bytes;
  pollfd fds[4];
  const int count = snd_rawmidi_poll_descriptors(impl_->in, fds, 4);
  for (;;) {
    uint8_t chunk[4096];
    const ssize_t got = snd_rawmidi_read(impl_->in, chunk, sizeof chunk);
    if (got > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
      if (chunk[got - 1] == 0xF7) return bytes;
      continue;
    }
    if (got != -EAGAIN) return bytes;
    if (poll(fds, static_cast<nfds_t>(count), timeoutMs) <= 0) return bytes;
  }
}

}  // namespace kv5
