// The instance lock on Windows: a named mutex created with initial ownership. Creating it and
// learning that it existed already are one atomic step across processes, and the system destroys
// the mutex when the last handle to it closes, which process end does however the process ends.
#include "platform/instance/InstanceLock.h"

#include <windows.h>

namespace kv5 {
namespace {

class NamedMutexLock : public InstanceLock {
 public:
  explicit NamedMutexLock(HANDLE mutex) : mutex_(mutex) {}
  ~NamedMutexLock() override { CloseHandle(mutex_); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

ClaimResult ClaimInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* held) {
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  // A name held by an object of another kind (an event, a semaphore) gives no handle at all.
  if (mutex == nullptr) return ClaimResult::Failed;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return ClaimResult::AlreadyExists;
  }
  *held = std::make_unique<NamedMutexLock>(mutex);
  return ClaimResult::Created;
}

}  // namespace kv5
