#include "PollerThread.h"

#include <chrono>

#include "protocol/ReplyPoller.h"

namespace kv5::test {
namespace {

thread_local bool insideTick = false;

}  // namespace

PollerThread::PollerThread(ReceivedSysexQueue& queue, ExchangeState& state, SysexSender& sender)
    : queue_(queue), state_(state), sender_(sender), thread_([this] { Run(); }) {}

PollerThread::~PollerThread() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stop_ = true;
  }
  woken_.notify_one();
  thread_.join();
}

void PollerThread::Wake() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    wake_ = true;
  }
  woken_.notify_one();
}

void PollerThread::TickNow() {
  if (!insideTick) Tick();
}

void PollerThread::Tick() {
  std::lock_guard<std::mutex> hold(tickLock_);
  insideTick = true;
  ReplyPoller(queue_, state_, sender_);
  insideTick = false;
}

void PollerThread::Run() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!stop_) {
    woken_.wait_for(hold, std::chrono::milliseconds(1), [this] { return wake_ || stop_; });
    wake_ = false;
    hold.unlock();
    Tick();
    hold.lock();
  }
}

}  // namespace kv5::test
