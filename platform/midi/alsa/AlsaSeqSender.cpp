#include "platform/midi/alsa/AlsaSeqSender.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRetryPause = std::chrono::milliseconds(1);
// Between unpaced pieces: time for the receiver to read before its pool fills.
constexpr auto kPiecePause = std::chrono::milliseconds(1);
// Pacing waits are cut into slices so a cancel is seen soon.
constexpr auto kLongestWaitSlice = std::chrono::milliseconds(20);
constexpr int kCancelled = -ECANCELED;

}  // namespace

int SeqSender::WriteEvent(int port, const uint8_t* bytes, size_t count) {
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  snd_seq_ev_set_source(&event, port);
  snd_seq_ev_set_subs(&event);
  snd_seq_ev_set_direct(&event);
  snd_seq_ev_set_sysex(&event, static_cast<unsigned int>(count), const_cast<uint8_t*>(bytes));
  std::lock_guard<std::mutex> hold(outputLock_);
  // Direct output writes the event at once, whatever its size, and reports a full receiver.
  const int result = snd_seq_event_output_direct(seq_, &event);
  return result < 0 ? result : 0;
}

int SeqSender::SendEvent(int port, const uint8_t* bytes, size_t count,
                         const std::function<bool()>& cancelled) {
  const auto start = Clock::now();
  for (;;) {
    if (cancelled()) return kCancelled;
    const int result = WriteEvent(port, bytes, count);
    // -EAGAIN: a receiver's pool has no room for now; anything else is final (-ENOMEM: its pool
    // is smaller than the event).
    if (result != -EAGAIN) return result;
    if (Clock::now() - start > std::chrono::milliseconds(config_.stallLimitMs)) return result;
    std::this_thread::sleep_for(kRetryPause);
  }
}

SeqSender::Outcome SeqSender::SendPieces(int port, const uint8_t* bytes, size_t count,
                                         OutputPacer* pacer,
                                         const std::function<bool()>& cancelled) {
  size_t offset = 0;
  while (offset < count) {
    const size_t piece = std::min(config_.pieceBytes, count - offset);
    if (pacer != nullptr) {
      const auto delay = pacer->DelayBefore(piece, Clock::now());
      if (delay > Clock::duration::zero()) {
        if (cancelled()) return Outcome::Cancelled;
        std::this_thread::sleep_for(std::min<Clock::duration>(delay, kLongestWaitSlice));
        continue;
      }
    } else if (offset > 0) {
      std::this_thread::sleep_for(kPiecePause);
    }
    const int result = SendEvent(port, bytes + offset, piece, cancelled);
    if (result == kCancelled) return Outcome::Cancelled;
    if (result < 0) return Outcome::Failed;
    if (pacer != nullptr) pacer->Sent(piece, Clock::now());
    offset += piece;
  }
  return Outcome::Sent;
}

SeqSender::Outcome SeqSender::Send(int port, const uint8_t* bytes, size_t count, OutputPacer* pacer,
                                   const std::function<bool()>& cancelled) {
  if (pacer != nullptr || count > config_.largestWholeEvent)
    return SendPieces(port, bytes, count, pacer, cancelled);
  const int result = SendEvent(port, bytes, count, cancelled);
  if (result == 0) return Outcome::Sent;
  return result == kCancelled ? Outcome::Cancelled : Outcome::Failed;
}

}  // namespace kv5
