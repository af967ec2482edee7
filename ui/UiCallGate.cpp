#include "ui/UiCallGate.h"

namespace kv5 {

bool UiCallGate::Call(std::function<void()> call, const std::function<void()>& wake) {
  std::unique_lock<std::mutex> hold(lock_);
  if (closed_) return false;
  auto done = std::make_shared<bool>(false);
  calls_.push_back({std::move(call), done});
  changed_.notify_all();
  hold.unlock();
  wake();
  hold.lock();
  changed_.wait(hold, [&] { return *done || closed_; });
  return *done;
}

bool UiCallGate::Post(std::function<void()> call, const std::function<void()>& wake) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return false;
    calls_.push_back({std::move(call), nullptr});
    changed_.notify_all();
  }
  wake();
  return true;
}

void UiCallGate::RunFront(std::unique_lock<std::mutex>& hold) {
  QueuedCall call = std::move(calls_.front());
  calls_.pop_front();
  hold.unlock();
  call.run();
  hold.lock();
  if (call.done) *call.done = true;
  changed_.notify_all();
}

void UiCallGate::Drain() {
  std::unique_lock<std::mutex> hold(lock_);
  while (!closed_ && !calls_.empty()) RunFront(hold);
}

void UiCallGate::Close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  calls_.clear();
  changed_.notify_all();
}

bool UiCallGate::IsClosed() const {
  std::lock_guard<std::mutex> hold(lock_);
  return closed_;
}

void UiCallGate::WorkerStarted() {
  std::lock_guard<std::mutex> hold(lock_);
  workerActive_ = true;
}

void UiCallGate::WorkerFinished() {
  std::lock_guard<std::mutex> hold(lock_);
  workerActive_ = false;
  changed_.notify_all();
}

bool UiCallGate::WorkerActive() const {
  std::lock_guard<std::mutex> hold(lock_);
  return workerActive_;
}

void UiCallGate::WaitForWorker() {
  std::unique_lock<std::mutex> hold(lock_);
  while (workerActive_) {
    changed_.wait(hold, [this] { return !workerActive_ || (!closed_ && !calls_.empty()); });
    while (!closed_ && !calls_.empty()) RunFront(hold);
  }
}

}  // namespace kv5
