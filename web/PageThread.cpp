#include "web/PageThread.h"

namespace kv5 {

PageThread::PageThread() {
  thread_ = std::thread([this] { Run(); });
  id_ = thread_.get_id();
  // The page lives until the browser drops it: nothing ever joins this thread.
  thread_.detach();
}

void PageThread::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(std::move(call));
  }
  posted_.notify_one();
}

void PageThread::Run() {
  for (;;) {
    std::function<void()> call;
    {
      std::unique_lock<std::mutex> hold(lock_);
      posted_.wait(hold, [this] { return !calls_.empty(); });
      call = std::move(calls_.front());
      calls_.pop_front();
    }
    call();
  }
}

}  // namespace kv5
