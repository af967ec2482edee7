#include "GuestRig.h"

#include <chrono>
#include <thread>

namespace kv5::guest {

Bytes MakeSysex(size_t size, uint8_t seed) {
  Bytes bytes(size);
  bytes.front() = 0xF0;
  for (size_t i = 1; i + 1 < size; ++i)
    bytes[i] = static_cast<uint8_t>((i * 7 + i / 128 + seed) & 0x7F);
  bytes.back() = 0xF7;
  return bytes;
}

std::string FirstStartingWith(const std::vector<std::string>& names, const std::string& prefix) {
  for (const std::string& name : names)
    if (name.rfind(prefix, 0) == 0) return name;
  return "";
}

InputCollector::InputCollector(MidiInServices& services, uint32_t bufferSize)
    : services_(services), buffer_(std::make_unique<uint8_t[]>(bufferSize)) {
  header_.lpData = buffer_.get();
  header_.dwBufferLength = bufferSize;
}

InputCollector::~InputCollector() {
  if (handle_ != 0) {
    services_.Reset(handle_);
    services_.UnprepareHeader(handle_, &header_);
    services_.Close(handle_);
  }
}

MidiResult InputCollector::Open(uint32_t device) {
  MidiResult result = services_.Open(&handle_, device, &InputCollector::Callback,
                                     reinterpret_cast<uintptr_t>(this));
  if (result != MMSYSERR_NOERROR) return result;
  result = services_.PrepareHeader(handle_, &header_);
  if (result == MMSYSERR_NOERROR) result = services_.AddBuffer(handle_, &header_);
  if (result == MMSYSERR_NOERROR) result = services_.Start(handle_);
  return result;
}

MidiResult InputCollector::Close() {
  MidiResult result = services_.Reset(handle_);
  if (result == MMSYSERR_NOERROR) result = services_.UnprepareHeader(handle_, &header_);
  if (result == MMSYSERR_NOERROR) result = services_.Close(handle_);
  if (result == MMSYSERR_NOERROR) handle_ = 0;
  return result;
}

void InputCollector::SetRequeue(bool requeue) {
  std::lock_guard<std::mutex> hold(lock_);
  requeue_ = requeue;
}

void InputCollector::Callback(MidiInHandle, uint32_t message, uintptr_t instance, uintptr_t param1,
                              uintptr_t) {
  reinterpret_cast<InputCollector*>(instance)->OnInput(message,
                                                       reinterpret_cast<MidiHeader*>(param1));
}

void InputCollector::OnInput(uint32_t message, MidiHeader* header) {
  if (message != MIM_LONGDATA || !(header->dwFlags & MHDR_DONE)) return;
  const Bytes received(header->lpData, header->lpData + header->dwBytesRecorded);
  bool requeue = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    requeue = requeue_ && !received.empty();
  }
  // Back to the device before the bytes are reported, so a waiter sees the buffer queued.
  if (requeue) services_.AddBuffer(handle_, header);
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (received.empty()) {
      ++emptyHandBacks_;
    } else {
      total_ += received.size();
      entries_.push_back(received);
    }
    changed_.notify_all();
  }
}

bool InputCollector::WaitForBytes(size_t total) {
  std::unique_lock<std::mutex> hold(lock_);
  return changed_.wait_for(hold, std::chrono::milliseconds(kWaitLimitMs),
                           [&] { return total_ >= total; });
}

std::vector<Bytes> InputCollector::Entries() {
  std::lock_guard<std::mutex> hold(lock_);
  return entries_;
}

Bytes InputCollector::Joined() {
  return Join(Entries());
}

int InputCollector::EmptyHandBacks() {
  std::lock_guard<std::mutex> hold(lock_);
  return emptyHandBacks_;
}

EndpointInbox::EndpointInbox(MidiEndpoint& endpoint) : endpoint_(endpoint) {
  endpoint_.SetReceiver([this](const uint8_t* bytes, size_t length) {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.emplace_back(bytes, bytes + length);
    changed_.notify_all();
  });
}

EndpointInbox::~EndpointInbox() {
  endpoint_.SetReceiver(nullptr);
}

Bytes EndpointInbox::Next() {
  std::unique_lock<std::mutex> hold(lock_);
  if (!changed_.wait_for(hold, std::chrono::milliseconds(kWaitLimitMs),
                         [&] { return messages_.size() > taken_; }))
    return {};
  return messages_[taken_++];
}

std::vector<Bytes> DrainPort(MidiInPort& port, size_t total) {
  std::vector<Bytes> entries;
  size_t got = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
  while (got < total && std::chrono::steady_clock::now() < deadline) {
    const SysexEntry* entry = port.PeekSysex();
    if (entry == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    entries.emplace_back(entry->bytes.get(), entry->bytes.get() + entry->length);
    got += entry->length;
    port.PopSysex();
  }
  return entries;
}

Bytes Join(const std::vector<Bytes>& entries) {
  Bytes joined;
  for (const Bytes& entry : entries) joined.insert(joined.end(), entry.begin(), entry.end());
  return joined;
}

}  // namespace kv5::guest
