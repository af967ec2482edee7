#include "platform/midi/alsa/AlsaRawOutput.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/midi/alsa/InterruptibleCall.h"

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMostPollFds = 4;
// Between looks at a buffer that is about to be empty: one byte's time on the slowest line.
constexpr long kEmptyCheckNs = 100000;

// Errors with which the kernel reports a card that went away (unplugged, its driver unloaded).
bool DeviceGone(long error) {
  return error == -ENODEV || error == -ENXIO || error == -EBADFD || error == -EPIPE;
}

}  // namespace

int OpenRawMidiOutput(snd_rawmidi_t** raw, const char* name) {
  return snd_rawmidi_open(nullptr, raw, name, SND_RAWMIDI_NONBLOCK);
}

int ConfigureRawMidiOutput(snd_rawmidi_t* raw, size_t bufferBytes) {
  snd_rawmidi_params_t* params = nullptr;
  int result = snd_rawmidi_params_malloc(&params);
  if (result < 0) return result;
  result = snd_rawmidi_params_current(raw, params);
  if (result >= 0) result = snd_rawmidi_params_set_buffer_size(raw, params, bufferBytes);
  // Room is reported, and a write accepted, only when the buffer is empty but for at most one
  // byte (the library takes no larger least room than that): the driver has all but the last
  // byte of what was written before.
  if (result >= 0) result = snd_rawmidi_params_set_avail_min(raw, params, bufferBytes - 1);
  // No active-sensing byte of the kernel's own when the device is closed.
  if (result >= 0) result = snd_rawmidi_params_set_no_active_sensing(raw, params, 1);
  if (result >= 0) result = snd_rawmidi_params(raw, params);
  snd_rawmidi_params_free(params);
  return result;
}

long RawMidiFreeBytes(snd_rawmidi_t* raw) {
  snd_rawmidi_status_t* status = nullptr;
  snd_rawmidi_status_alloca(&status);
  const int got = snd_rawmidi_status(raw, status);
  return got < 0 ? got : static_cast<long>(snd_rawmidi_status_get_avail(status));
}

RawMidiOutput::RawMidiOutput(const RawMidiCalls& calls, snd_rawmidi_t* raw, int wakeFd,
                             const AlsaConfig& config)
    : calls_(calls),
      raw_(raw),
      wakeFd_(wakeFd),
      bufferBytes_(config.rawOutputBufferBytes),
      stallLimitMs_(config.stallLimitMs) {}

RawMidiOutput::~RawMidiOutput() {
  // Anything still buffered is what a cancelled message left; it is not sent on, and the close
  // finds the buffer empty. A card that has gone refuses the drop, and its close would wait ten
  // seconds for a driver that takes nothing more, unless a signal ends that wait.
  if (calls_.drop(raw_) < 0) {
    RunInterruptibly([this] { calls_.close(raw_); });
  } else {
    calls_.close(raw_);
  }
  close(wakeFd_);
}

std::unique_ptr<RawMidiOutput> RawMidiOutput::Open(const RawMidiAddress& address,
                                                   const AlsaConfig& config, MidiResult* result,
                                                   const RawMidiCalls& calls) {
  snd_rawmidi_t* raw = nullptr;
  const int opened = calls.open(&raw, address.Name().c_str());
  if (opened < 0) {
    *result = opened == -EBUSY ? MMSYSERR_ALLOCATED : MMSYSERR_ERROR;
    return nullptr;
  }
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    calls.close(raw);
    *result = MMSYSERR_NOMEM;
    return nullptr;
  }
  std::unique_ptr<RawMidiOutput> output(new RawMidiOutput(calls, raw, wakeFd, config));
  if (calls.configure(raw, config.rawOutputBufferBytes) < 0) {
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

RawMidiOutput::Wait RawMidiOutput::WaitForRoom() {
  const int checkMs = std::max(1, stallLimitMs_ / 10);
  long lastFree = calls_.freeBytes(raw_);
  auto lastProgress = Clock::now();
  Wait outcome = Wait::Stalled;
  for (;;) {
    pollfd fds[kMostPollFds];
    fds[0] = {wakeFd_, POLLIN, 0};
    const int count = calls_.pollDescriptors(raw_, fds + 1, kMostPollFds - 1);
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
    if (ready > 0) calls_.pollRevents(raw_, fds + 1, static_cast<unsigned int>(count), &revents);
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
      outcome = Wait::Gone;
      break;
    }
    if (revents & POLLOUT) {
      outcome = Wait::Room;
      break;
    }
    const long nowFree = calls_.freeBytes(raw_);
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

OutputLink::Outcome RawMidiOutput::WaitUntilEmpty(const std::function<bool()>& cancelled) {
  // Room was reported: at most one byte is left, which any line takes within a millisecond. The
  // looks between are a sleep on the wake descriptor, so an Interrupt is seen at once.
  const auto start = Clock::now();
  for (;;) {
    const long free = calls_.freeBytes(raw_);
    if (free < 0) return DeviceGone(free) ? Outcome::Gone : Outcome::Failed;
    if (static_cast<size_t>(free) >= bufferBytes_) return Outcome::Sent;
    if (cancelled()) {
      calls_.drop(raw_);
      return Outcome::Cancelled;
    }
    if (Clock::now() - start > std::chrono::milliseconds(stallLimitMs_)) {
      calls_.drop(raw_);
      return Outcome::Failed;
    }
    pollfd wake = {wakeFd_, POLLIN, 0};
    const timespec pause = {0, kEmptyCheckNs};
    if (ppoll(&wake, 1, &pause, nullptr) > 0) {
      uint64_t value = 0;
      [[maybe_unused]] const ssize_t got = read(wakeFd_, &value, sizeof value);
    }
  }
}

OutputLink::Outcome RawMidiOutput::Send(const uint8_t* bytes, size_t count,
                                        const std::function<bool()>& cancelled) {
  size_t offset = 0;
  for (;;) {
    if (cancelled()) {
      calls_.drop(raw_);
      return Outcome::Cancelled;
    }
    switch (WaitForRoom()) {
      case Wait::Room:
        break;
      case Wait::Interrupted:
        continue;
      case Wait::Stalled:
        calls_.drop(raw_);
        return Outcome::Failed;
      case Wait::Gone:
        return Outcome::Gone;
    }
    // After the last write the message has left once the buffer is empty.
    if (offset == count) return WaitUntilEmpty(cancelled);
    const ssize_t written = calls_.write(raw_, bytes + offset, count - offset);
    if (written > 0) {
      offset += static_cast<size_t>(written);
    } else if (written != -EAGAIN && written != 0) {
      return DeviceGone(written) ? Outcome::Gone : Outcome::Failed;
    }
  }
}

}  // namespace kv5
