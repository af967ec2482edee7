#include "platform/midi/common/DeviceLock.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace kv5 {
namespace {

// A socket name is held by one socket at a time: a second bind in this process would be refused
// like another process's, so the opens of this process share one socket per device.
struct Shared {
  int fd = -1;
  int users = 0;
};

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}

std::map<std::string, Shared>& Registry() {
  static std::map<std::string, Shared> registry;
  return registry;
}

class SocketDeviceLock : public DeviceLock {
 public:
  explicit SocketDeviceLock(std::string name) : name_(std::move(name)) {}
  ~SocketDeviceLock() override {
    std::lock_guard<std::mutex> hold(RegistryLock());
    auto found = Registry().find(name_);
    if (found == Registry().end() || --found->second.users > 0) return;
    ::close(found->second.fd);  // the name is free again
    Registry().erase(found);
  }

 private:
  const std::string name_;
};

// Device names may hold any character and be long: the socket's name is a hash of the whole key.
std::string SocketName(const std::string& space, const std::string& key) {
  uint64_t hash = 1469598103934665603ull;
  for (const char c : key) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char digits[24];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  std::string name = "kv5update-device/";
  name.append(space.substr(0, 40)).append("/").append(digits);
  return name;
}

}  // namespace

DeviceLockResult ClaimDeviceLock(const std::string& key, std::unique_ptr<DeviceLock>* held,
                                 const std::string& space) {
  const std::string name = SocketName(space, key);
  std::lock_guard<std::mutex> hold(RegistryLock());
  auto found = Registry().find(name);
  if (found != Registry().end()) {
    ++found->second.users;
    *held = std::make_unique<SocketDeviceLock>(name);
    return DeviceLockResult::Held;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return DeviceLockResult::Unavailable;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // An abstract name: a leading zero byte, no file; it lives as long as the socket.
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EADDRINUSE ? DeviceLockResult::TakenByPeer : DeviceLockResult::Unavailable;
  }
  Registry()[name] = Shared{fd, 1};
  *held = std::make_unique<SocketDeviceLock>(name);
  return DeviceLockResult::Held;
}

std::string CardPortLockKey(const std::string& cardLongName, int device, int subdevice,
                            bool output) {
  std::string key = "card\n";
  key.append(cardLongName).append("\n").append(std::to_string(device)).append(",");
  key.append(std::to_string(subdevice)).append(output ? "\nout" : "\nin");
  return key;
}

}  // namespace kv5
