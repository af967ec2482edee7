#include "platform/midi/jack/JackBridgePacer.h"

#include <algorithm>

namespace kv5 {
namespace {

// A 31250-baud line takes ten bits a byte.
constexpr double kLineBytesPerSecond = 3125.0;

}  // namespace

JackBridgePacer::JackBridgePacer(const CardPortAddress& card, size_t inFlightBytes,
                                 std::chrono::microseconds interval)
    : card_(card),
      inFlightBytes_(inFlightBytes),
      interval_(interval),
      start_(std::chrono::steady_clock::now()),
      allowed_(inFlightBytes) {
  const auto state = ReadRawOutputState(card_.card, card_.device, card_.subdevice);
  if (state) {
    sentAtStart_ = state->sentBytes;
  } else {
    counted_ = false;
  }
  thread_ = std::thread([this] { Loop(); });
}

JackBridgePacer::~JackBridgePacer() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

size_t JackBridgePacer::Allowance() const noexcept {
  const uint64_t allowed = allowed_.load(std::memory_order_acquire);
  const uint64_t written = written_.load(std::memory_order_relaxed);
  return allowed > written ? static_cast<size_t>(allowed - written) : 0;
}

uint64_t JackBridgePacer::Wrote(size_t bytes) noexcept {
  return written_.fetch_add(bytes, std::memory_order_relaxed) + bytes;
}

bool JackBridgePacer::Delivered(uint64_t written) const noexcept {
  return delivered_.load(std::memory_order_acquire) >= written;
}

void JackBridgePacer::Queued(size_t bytes) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    queued_ += bytes;
  }
  wake_.notify_all();
}

void JackBridgePacer::Dropped() {
  std::lock_guard<std::mutex> hold(lock_);
  queued_ = std::min(queued_, written_.load());
}

void JackBridgePacer::Renew() {
  uint64_t taken = 0;
  if (counted_) {
    const auto state = ReadRawOutputState(card_.card, card_.device, card_.subdevice);
    if (!state) return;  // the card is gone; what is allowed stays
    taken = state->sentBytes - sentAtStart_;
  } else {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    taken = static_cast<uint64_t>(seconds * kLineBytesPerSecond);
  }
  delivered_.store(taken, std::memory_order_release);
  allowed_.store(taken + inFlightBytes_, std::memory_order_release);
}

void JackBridgePacer::Loop() {
  std::unique_lock<std::mutex> hold(lock_);
  // Until the card has taken all that was queued.
  auto waiting = [this] { return delivered_.load() < queued_; };
  for (;;) {
    // While bytes wait, the allowance follows what the card takes.
    wake_.wait(hold, [&] { return quit_ || waiting(); });
    if (quit_) return;
    hold.unlock();
    Renew();
    hold.lock();
    wake_.wait_for(hold, interval_, [this] { return quit_; });
  }
}

}  // namespace kv5
