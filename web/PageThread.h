// The page's user-interface thread: the dialog's handlers, its view's modal boxes and the calls
// that workers carry to the window all run here, one at a time, in the order they were posted.
// It is a thread like the workers (a fiber on the browser's one thread), so a modal box can wait
// for its button while the MIDI input, the timer and the worker go on.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kv5 {

class PageThread {
 public:
  PageThread();
  PageThread(const PageThread&) = delete;
  PageThread& operator=(const PageThread&) = delete;

  // Runs call on the thread after what was posted before it; callable from any thread.
  void Post(std::function<void()> call);
  bool OnThread() const { return std::this_thread::get_id() == id_; }

 private:
  void Run();

  std::mutex lock_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> calls_;
  std::thread::id id_;
  std::thread thread_;
};

}  // namespace kv5
