// A named, per-user lock that marks a running copy of the program. Creating it and testing
// whether it exists are one atomic step across processes; the operating system releases it when
// the process ends (a named mutex on Windows, an abstract socket name on Linux).
#pragma once

#include <memory>
#include <string>

namespace kv5 {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;
};

enum class ClaimResult { Created, AlreadyExists, Failed };

// Tries to create the lock of the given name. Created: the lock is this process's until the
// returned object is destroyed or the process ends. AlreadyExists: another process holds it.
// Failed: the name is held by an object of another kind, or the call failed; callers treat it
// like a taken name.
ClaimResult ClaimInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* held);

}  // namespace kv5
