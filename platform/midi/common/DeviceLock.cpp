#include "platform/midi/common/DeviceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>

namespace kv5 {
namespace {

// flock is held per open file: a second open of the same file in this process would be refused
// like another process's, so the opens of this process share one descriptor per device.
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

class FileDeviceLock : public DeviceLock {
 public:
  explicit FileDeviceLock(std::string path) : path_(std::move(path)) {}
  ~FileDeviceLock() override {
    std::lock_guard<std::mutex> hold(RegistryLock());
    auto found = Registry().find(path_);
    if (found == Registry().end() || --found->second.users > 0) return;
    ::close(found->second.fd);  // releases the flock
    Registry().erase(found);
  }

 private:
  const std::string path_;
};

bool OwnPrivateFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 077) == 0;
}

// Device names may hold any character: the file name keeps the plain ones and a hash of the
// whole key, so that two keys never share a file and no name grows too long.
std::string FileName(const std::string& key) {
  uint64_t hash = 1469598103934665603ull;
  std::string plain;
  for (const char c : key) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (plain.size() < 96) plain += keep ? c : '_';
  }
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(hash));
  return plain + suffix + ".lock";
}

}  // namespace

std::string DefaultDeviceLockFolder() {
  const std::string uid = std::to_string(::getuid());
  const std::string runtime = "/run/user/" + uid;
  struct stat info {};
  if (::lstat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid())
    return runtime + "/kv5update-devices";
  return "/tmp/kv5update-devices-" + uid;
}

DeviceLockResult ClaimDeviceLock(const std::string& folder, const std::string& key,
                                 std::unique_ptr<DeviceLock>* held) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return DeviceLockResult::Unavailable;
  if (!OwnPrivateFolder(folder)) return DeviceLockResult::Unavailable;
  const std::string path = folder + "/" + FileName(key);

  std::lock_guard<std::mutex> hold(RegistryLock());
  auto found = Registry().find(path);
  if (found != Registry().end()) {
    ++found->second.users;
    *held = std::make_unique<FileDeviceLock>(path);
    return DeviceLockResult::Held;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return DeviceLockResult::Unavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return error == EWOULDBLOCK ? DeviceLockResult::TakenByPeer : DeviceLockResult::Unavailable;
  }
  Registry()[path] = Shared{fd, 1};
  *held = std::make_unique<FileDeviceLock>(path);
  return DeviceLockResult::Held;
}

}  // namespace kv5
