#include "unit/VirtualUnit.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "unit/FlashModel.h"
#include "unit/UnitResponder.h"

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;

// Time the link takes to carry `length` bytes at the paced rate.
Clock::duration WireTime(const LinkPacing& pacing, size_t length) {
  if (pacing.bytesPerSecond == 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::microseconds(length * 1'000'000ull / pacing.bytesPerSecond));
}

Clock::duration WorkTime(const LinkPacing& pacing, MessageKind kind) {
  if (kind == MessageKind::FlashErase) return pacing.perErase;
  if (kind == MessageKind::FlashWrite) return pacing.perWrite;
  return Clock::duration::zero();
}

}  // namespace

struct VirtualUnit::Impl {
  struct Inbound {
    std::vector<uint8_t> bytes;
    Clock::time_point arrived;
    std::optional<Clock::time_point> ready;  // when its last byte has crossed the paced link
  };
  struct Pending {
    std::vector<uint8_t> bytes;
    bool paced = false;  // its time on the link is already accounted for
  };

  Impl(MidiEndpoint& endpoint, UnitConfig config)
      : endpoint(endpoint), config(std::move(config)), responder(this->config) {}

  void Receive(const uint8_t* bytes, size_t length) {
    std::lock_guard<std::mutex> hold(lock);
    if (!running) return;
    inbox.push_back({std::vector<uint8_t>(bytes, bytes + length), Clock::now(), std::nullopt});
    ++received;
    wake.notify_one();
  }

  void Enqueue(std::vector<uint8_t> bytes, Clock::time_point due) {
    outbox.emplace(std::make_pair(due, order++), Pending{std::move(bytes), false});
  }

  bool Idle() const { return inbox.empty() && outbox.empty() && !sending && handled == received; }

  void Run();
  bool HandleDueOutput(std::unique_lock<std::mutex>& hold, Clock::time_point now);
  void HandleInput(Clock::time_point now);

  MidiEndpoint& endpoint;
  const UnitConfig config;
  mutable std::mutex lock;
  std::condition_variable wake;      // the unit's thread: new input, new output, stop
  std::condition_variable progress;  // waiters: something was handled or sent
  UnitResponder responder;
  std::deque<Inbound> inbox;
  std::map<std::pair<Clock::time_point, uint64_t>, Pending> outbox;  // by due time, then order
  uint64_t order = 0;
  uint64_t received = 0;
  uint64_t handled = 0;
  bool running = false;
  bool started = false;
  bool stopping = false;
  bool sending = false;
  uint32_t unsent = 0;  // messages the endpoint refused: answers the host never gets
  Clock::time_point start = Clock::now();
  Clock::time_point rxFree{};     // when the incoming line is free again
  Clock::time_point txFree{};     // when the outgoing line is free again
  Clock::time_point busyUntil{};  // when the unit has finished its current erase or write
  std::thread thread;
};

void VirtualUnit::Impl::Run() {
  std::unique_lock<std::mutex> hold(lock);
  while (!stopping) {
    const Clock::time_point now = Clock::now();
    if (HandleDueOutput(hold, now)) continue;

    std::optional<Clock::time_point> nextInput;
    if (!inbox.empty()) {
      Inbound& front = inbox.front();
      if (!front.ready) {
        rxFree = std::max(front.arrived, rxFree) + WireTime(config.pacing, front.bytes.size());
        front.ready = rxFree;
      }
      nextInput = std::max(*front.ready, busyUntil);
      if (*nextInput <= now) {
        HandleInput(now);
        continue;
      }
    }
    std::optional<Clock::time_point> next = nextInput;
    if (!outbox.empty()) {
      const Clock::time_point due = outbox.begin()->first.first;
      next = next ? std::min(*next, due) : due;
    }
    if (next) {
      wake.wait_until(hold, *next);
    } else {
      wake.wait(hold);
    }
  }
}

// Sends the first output that is due, outside the lock, so the transport may call back into the
// receiver meanwhile. True when it sent or rescheduled something.
bool VirtualUnit::Impl::HandleDueOutput(std::unique_lock<std::mutex>& hold, Clock::time_point now) {
  if (outbox.empty() || outbox.begin()->first.first > now) return false;
  auto node = outbox.extract(outbox.begin());
  Pending& pending = node.mapped();
  if (config.pacing.bytesPerSecond != 0 && !pending.paced) {
    txFree = std::max(now, txFree) + WireTime(config.pacing, pending.bytes.size());
    pending.paced = true;
    if (txFree > now) {
      node.key() = {txFree, node.key().second};
      outbox.insert(std::move(node));
      return true;
    }
  }
  sending = true;
  hold.unlock();
  const bool sent = endpoint.Send(pending.bytes.data(), pending.bytes.size());
  hold.lock();
  if (!sent) ++unsent;
  sending = false;
  progress.notify_all();
  return true;
}

void VirtualUnit::Impl::HandleInput(Clock::time_point now) {
  Inbound message = std::move(inbox.front());
  inbox.pop_front();
  const auto at = std::chrono::duration_cast<std::chrono::microseconds>(now - start);
  Reaction reaction = responder.Handle(message.bytes.data(), message.bytes.size(), at);
  busyUntil = now + WorkTime(config.pacing, reaction.entry.kind);
  for (Outgoing& out : reaction.messages) {
    if (!out.bytes.empty()) Enqueue(std::move(out.bytes), busyUntil + out.delay);
  }
  ++handled;
  progress.notify_all();
}

VirtualUnit::VirtualUnit(MidiEndpoint& endpoint, UnitConfig config)
    : impl_(std::make_shared<Impl>(endpoint, std::move(config))) {}

VirtualUnit::~VirtualUnit() {
  Stop();
}

bool VirtualUnit::Start() {
  {
    std::lock_guard<std::mutex> hold(impl_->lock);
    if (impl_->started) return false;
    impl_->started = true;
    impl_->running = true;
    impl_->start = Clock::now();
  }
  // The receiver may outlive this object inside the endpoint; it holds the state weakly.
  std::weak_ptr<Impl> weak = impl_;
  impl_->endpoint.SetReceiver([weak](const uint8_t* bytes, size_t length) {
    if (auto impl = weak.lock()) impl->Receive(bytes, length);
  });
  impl_->thread = std::thread([impl = impl_.get()] { impl->Run(); });
  return true;
}

void VirtualUnit::Stop() {
  {
    std::lock_guard<std::mutex> hold(impl_->lock);
    impl_->running = false;
    impl_->stopping = true;
    impl_->inbox.clear();
    impl_->outbox.clear();
    impl_->handled = impl_->received;
    impl_->wake.notify_all();
  }
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->progress.notify_all();
}

bool VirtualUnit::SendRequest(UnitRequest request) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  if (!impl_->running) return false;
  std::vector<uint8_t> bytes = impl_->responder.MakeRequest(request);
  if (bytes.empty()) return false;
  impl_->Enqueue(std::move(bytes), Clock::now());
  impl_->wake.notify_all();
  return true;
}

void VirtualUnit::ScheduleRequest(const ScheduledRequest& scheduled) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.Schedule(scheduled);
}

bool VirtualUnit::SendRaw(std::vector<uint8_t> bytes) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  if (!impl_->running || bytes.empty()) return false;
  impl_->Enqueue(std::move(bytes), Clock::now());
  impl_->wake.notify_all();
  return true;
}

void VirtualUnit::AddFault(Fault fault) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.AddFault(std::move(fault));
}

void VirtualUnit::ClearFaults() {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.ClearFaults();
}

void VirtualUnit::PowerUp(bool updateMode) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.PowerUp(updateMode);
}

void VirtualUnit::ResetFlash(InitialFlash state) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.ResetFlash(state);
}

void VirtualUnit::SetDeviceCode(const std::array<uint8_t, 4>& code) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.SetDeviceCode(code);
}

bool VirtualUnit::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(impl_->lock);
  return impl_->progress.wait_for(hold, timeout, [this] { return impl_->Idle(); });
}

bool VirtualUnit::WaitForCount(MessageKind kind, uint32_t count,
                               std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(impl_->lock);
  return impl_->progress.wait_for(hold, timeout,
                                  [&] { return impl_->responder.Count(kind) >= count; });
}

bool VirtualUnit::WaitForHostAnswers(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> hold(impl_->lock);
  return impl_->progress.wait_for(hold, timeout,
                                  [&] { return impl_->responder.HostAnswers().size() >= count; });
}

std::vector<TranscriptEntry> VirtualUnit::Transcript() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.Transcript();
}

void VirtualUnit::ClearTranscript() {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->responder.ClearTranscript();
}

std::string VirtualUnit::Summary() const {
  std::string summary = SummarizeTranscript(Transcript());
  std::lock_guard<std::mutex> hold(impl_->lock);
  if (impl_->unsent != 0)
    summary += "could not send " + std::to_string(impl_->unsent) + " message(s)\n";
  return summary;
}

KindCounts VirtualUnit::Counts() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.Counts();
}

uint32_t VirtualUnit::Count(MessageKind kind) const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.Count(kind);
}

std::vector<HostAnswer> VirtualUnit::HostAnswers() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.HostAnswers();
}

std::vector<uint8_t> VirtualUnit::Flash() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  const uint8_t* data = impl_->responder.Flash().Data();
  return std::vector<uint8_t>(data, data + FlashModel::kSize);
}

std::vector<uint8_t> VirtualUnit::ReadFlash(uint32_t address, uint32_t count) const {
  if (!FlashModel::InRange(address, count)) return {};
  std::lock_guard<std::mutex> hold(impl_->lock);
  const uint8_t* data = impl_->responder.Flash().Data() + address;
  return std::vector<uint8_t>(data, data + count);
}

PackageVerification VirtualUnit::VerifyPackage(PackageSource source) const {
  FlashModel copy;
  {
    std::lock_guard<std::mutex> hold(impl_->lock);
    copy = impl_->responder.Flash();
  }
  return kv5::VerifyPackage(copy, source);
}

bool VirtualUnit::InUpdateMode() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.InUpdateMode();
}

bool VirtualUnit::UpdateEntered() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->responder.UpdateEntered();
}

const UnitConfig& VirtualUnit::Config() const {
  return impl_->config;
}

}  // namespace kv5
