#include "platform/midi/alsa/AlsaRawOutput.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMostPollFds = 4;

// Errors with which the kernel reports a card that went away (unplugged, its driver unloaded).
bool DeviceGone(long error) {
  return error == -ENODEV || error == -ENXIO || error == -EBADFD || error == -EPIPE;
}

int Configure(snd_rawmidi_t* raw, const AlsaConfig& config) {
  snd_rawmidi_params_t* params = nullptr;
  int result = snd_rawmidi_params_malloc(&params);
  if (result < 0) return result;
  result = snd_rawmidi_params_current(raw, params);
  if (result >= 0)
    result = snd_rawmidi_params_set_buffer_size(raw, params, config.rawOutputBufferBytes);
  // Room is reported, and a write accepted, only when the buffer is empty but for at most one
  // byte (the library takes no larger least room than that): the driver has all but the last
  // byte of what was written before.
  if (result >= 0)
    result = snd_rawmidi_params_set_avail_min(raw, params, config.rawOutputBufferBytes - 1);
  // No active-sensing byte of the kernel's own when the device is closed.
  if (result >= 0) result = snd_rawmidi_params_set_no_active_sensing(raw, params, 1);
  if (result >= 0) result = snd_rawmidi_params(raw, params);
  snd_rawmidi_params_free(params);
  return result;
}

}  // namespace

RawMidiOutput::RawMidiOutput(snd_rawmidi_t* raw, int wakeFd, const AlsaConfig& config)
    : raw_(raw),
      wakeFd_(wakeFd),
      bufferBytes_(config.rawOutputBufferBytes),
      stallLimitMs_(config.stallLimitMs) {}

RawMidiOutput::~RawMidiOutput() {
  // Anything still buffered is what a cancelled message left; it is not sent on.
  snd_rawmidi_drop(raw_);
  snd_rawmidi_close(raw_);
  close(wakeFd_);
}

std::unique_ptr<RawMidiOutput> RawMidiOutput::Open(const RawMidiAddress& address,
                                                   const AlsaConfig& config, MidiResult* result) {
  snd_rawmidi_t* raw = nullptr;
  // Without NONBLOCK the kernel would wait for another program to let go of the device.
  const int opened = snd_rawmidi_open(nullptr, &raw, address.Name().c_str(), SND_RAWMIDI_NONBLOCK);
  if (opened < 0) {
    *result = opened == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_ERROR;
    return nullptr;
  }
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    snd_rawmidi_close(raw);
    *result = MMSYSERR_NOMEM;
    return nullptr;
  }
  std::unique_ptr<RawMidiOutput> output(new RawMidiOutput(raw, wakeFd, config));
  if (Configure(raw, config) < 0) {
    *result = MMSYSERR_ERROR;
    return nullptr;
  }
  *result = MMSYSERR_NOERROR;
  return output;
}

void RawMidiOutput::Interrupt() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wakeFd_, &one, sizeof one);
}

long RawMidiOutput::FreeBytes() {
  snd_rawmidi_status_t* status = nullptr;
  snd_rawmidi_status_alloca(&status);
  const int got = snd_rawmidi_status(raw_, status);
  return got < 0 ? got : static_cast<long>(snd_rawmidi_status_get_avail(status));
}

RawMidiOutput::Wait RawMidiOutput::WaitForRoom() {
  const int checkMs = std::max(1, stallLimitMs_ / 10);
  long lastFree = FreeBytes();
  auto lastProgress = Clock::now();
  Wait outcome = Wait::Stalled;
  for (;;) {
    pollfd fds[kMostPollFds];
    fds[0] = {wakeFd_, POLLIN, 0};
    const int count = snd_rawmidi_poll_descriptors(raw_, fds + 1, kMostPollFds - 1);
    if (count <= 0) break;
    const int ready = poll(fds, static_cast<nfds_t>(count + 1), checkMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
      outcome = Wait::Interrupted;
      break;
    }
    unsigned short revents = 0;
    if (ready > 0) snd_rawmidi_poll_descriptors_revents(raw_, fds + 1, count, &revents);
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      outcome = Wait::Gone;
      break;
    }
    if (revents & POLLOUT) {
      outcome = Wait::Room;
      break;
    }
    const long nowFree = FreeBytes();
    if (nowFree < 0) {
      outcome = DeviceGone(nowFree) ? Wait::Gone : Wait::Stalled;
      break;
    }
    if (nowFree != lastFree) {
      lastFree = nowFree;
      lastProgress = Clock::now();
    } else if (Clock::now() - lastProgress > std::chrono::milliseconds(stallLimitMs_)) {
      break;
    }
  }
  return outcome;
}

OutputLink::Outcome RawMidiOutput::WaitUntilEmpty() {
  // Room was reported: at most one byte is left, which any line takes within a millisecond.
  const auto start = Clock::now();
  for (;;) {
    const long free = FreeBytes();
    if (free < 0) return DeviceGone(free) ? Outcome::Gone : Outcome::Failed;
    if (static_cast<size_t>(free) >= bufferBytes_) return Outcome::Sent;
    if (Clock::now() - start > std::chrono::milliseconds(stallLimitMs_)) {
      snd_rawmidi_drop(raw_);
      return Outcome::Failed;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

OutputLink::Outcome RawMidiOutput::Send(const uint8_t* bytes, size_t count,
                                        const std::function<bool()>& cancelled) {
  size_t offset = 0;
  for (;;) {
    if (cancelled()) {
      snd_rawmidi_drop(raw_);
      return Outcome::Cancelled;
    }
    switch (WaitForRoom()) {
      case Wait::Room:
        break;
      case Wait::Interrupted:
        continue;
      case Wait::Stalled:
        snd_rawmidi_drop(raw_);
        return Outcome::Failed;
      case Wait::Gone:
        return Outcome::Gone;
    }
    // After the last write the message has left once the buffer is empty.
    if (offset == count) return WaitUntilEmpty();
    const ssize_t written = snd_rawmidi_write(raw_, bytes + offset, count - offset);
    if (written > 0) {
      offset += static_cast<size_t>(written);
    } else if (written != -EAGAIN && written != 0) {
      return DeviceGone(written) ? Outcome::Gone : Outcome::Failed;
    }
  }
}

}  // namespace kv5
