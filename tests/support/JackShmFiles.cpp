#include "support/JackShmFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace kv5::test {
namespace {

constexpr const char* kShmDir = "/dev/shm";

bool InodeOf(const std::string& path, ino_t* inode) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  *inode = info.st_ino;
  return true;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The head of libjack's registry: magic, protocol, type, sizes, then the server table.
constexpr const char* kRegistry = "/dev/shm/jack-shm-registry";
constexpr uint32_t kRegistryMagic = 0x4A41434B;  // "JACK"
constexpr size_t kServerSlots = 8;
constexpr size_t kServerNameSize = 256;
struct RegistryServer {
  pid_t pid;
  char name[kServerNameSize + 1];
};
struct RegistryHeader {
  uint32_t magic;
  uint16_t protocol;
  int32_t type;
  uint32_t size;
  uint32_t headerLength;
  uint32_t entryLength;
  RegistryServer servers[kServerSlots];
};
static_assert(sizeof(RegistryHeader) == 2136, "the registry head as libjack 1.9 lays it out");
// The System V semaphore that guards the registry.
constexpr key_t kRegistryLockKey = 0x282929;

bool ProcessAlive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return false;
  std::string line;
  std::getline(stat, line);
  const size_t close = line.rfind(')');
  return close != std::string::npos && line.compare(close + 2, 1, "Z") != 0;
}

bool LockRegistry(int semaphore, int delta) {
  sembuf operation{0, static_cast<short>(delta), SEM_UNDO};
  while (semop(semaphore, &operation, 1) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

std::vector<ShmSegment> MappedJackSegments(pid_t server) {
  std::vector<ShmSegment> segments;
  AddMappedJackSegments(server, &segments);
  return segments;
}

void AddMappedJackSegments(pid_t server, std::vector<ShmSegment>* known) {
  if (server <= 0) return;
  std::ifstream maps("/proc/" + std::to_string(server) + "/maps");
  const std::string prefix = std::string(kShmDir) + "/jack-";
  std::string line;
  while (std::getline(maps, line)) {
    const size_t at = line.find(prefix);
    if (at == std::string::npos) continue;
    const std::string path = line.substr(at);
    if (path == std::string(kShmDir) + "/jack-shm-registry") continue;  // shared by all servers
    bool seen = false;
    for (const auto& segment : *known) seen = seen || segment.path == path;
    ino_t inode = 0;
    if (!seen && InodeOf(path, &inode)) known->push_back({path, inode});
  }
}

std::vector<std::string> JackServerFiles(const std::vector<ShmSegment>& segments,
                                         const std::string& serverName) {
  std::vector<std::string> files;
  for (const auto& segment : segments) {
    ino_t inode = 0;
    if (InodeOf(segment.path, &inode) && inode == segment.inode) files.push_back(segment.path);
  }
  if (serverName.empty()) return files;
  const std::string socketPrefix = "jack_" + serverName + "_";
  const std::string semaphorePrefix =
      "jack_sem." + std::to_string(getuid()) + "_" + serverName + "_";
  if (DIR* dir = opendir(kShmDir)) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (StartsWith(name, socketPrefix) || StartsWith(name, semaphorePrefix)) {
        files.push_back(std::string(kShmDir) + "/" + name);
      }
    }
    closedir(dir);
  }
  return files;
}

int RemoveJackServerFiles(const std::vector<ShmSegment>& segments, const std::string& serverName) {
  int removed = 0;
  for (const auto& path : JackServerFiles(segments, serverName)) {
    if (unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

namespace {

// Runs change on the registry's server table under its lock; false when the registry is not
// there or not laid out as expected.
template <typename Change>
bool WithServerTable(Change change) {
  const int fd = open(kRegistry, O_RDWR);
  if (fd < 0) return false;
  struct stat info {};
  void* mapped = MAP_FAILED;
  if (fstat(fd, &info) == 0 && static_cast<size_t>(info.st_size) >= sizeof(RegistryHeader)) {
    mapped = mmap(nullptr, sizeof(RegistryHeader), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  close(fd);
  if (mapped == MAP_FAILED) return false;
  auto* header = static_cast<RegistryHeader*>(mapped);
  bool done = false;
  const int semaphore = semget(kRegistryLockKey, 1, 0);
  if (header->magic == kRegistryMagic && header->headerLength == sizeof(RegistryHeader) &&
      semaphore >= 0 && LockRegistry(semaphore, -1)) {
    change(header->servers);
    LockRegistry(semaphore, +1);
    done = true;
  }
  munmap(mapped, sizeof(RegistryHeader));
  return done;
}

std::string RegistryName(const std::string& serverName) {
  return "jack-" + std::to_string(getuid()) + ":" + serverName + ":";
}

}  // namespace

bool ForgetDeadJackServer(const std::string& serverName) {
  bool freed = false;
  WithServerTable([&](RegistryServer* servers) {
    for (size_t i = 0; i < kServerSlots; ++i) {
      RegistryServer& server = servers[i];
      if (server.pid != 0 && RegistryName(serverName) == server.name && !ProcessAlive(server.pid)) {
        std::memset(&server, 0, sizeof server);
        freed = true;
      }
    }
  });
  return freed;
}

bool JackServerRegistered(const std::string& serverName) {
  bool found = false;
  WithServerTable([&](RegistryServer* servers) {
    for (size_t i = 0; i < kServerSlots; ++i) {
      found = found || (servers[i].pid != 0 && RegistryName(serverName) == servers[i].name);
    }
  });
  return found;
}

namespace {

bool AnyProcessMapsFilesIn(const std::string& dir) {
  const std::string prefix = dir + "/";
  bool found = false;
  if (DIR* proc = opendir("/proc")) {
    while (dirent* entry = readdir(proc)) {
      if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
      std::ifstream maps(std::string("/proc/") + entry->d_name + "/maps");
      std::string line;
      while (!found && std::getline(maps, line)) found = line.find(prefix) != std::string::npos;
      if (found) break;
    }
    closedir(proc);
  }
  return found;
}

}  // namespace

std::string JackMetadataDir() {
  return std::string(kShmDir) + "/jack_db-" + std::to_string(getuid());
}

int RemoveStaleJackMetadata(const std::string& dir) {
  DIR* files = opendir(dir.c_str());
  if (files == nullptr || AnyProcessMapsFilesIn(dir)) {
    if (files != nullptr) closedir(files);
    return 0;
  }
  int removed = 0;
  while (dirent* entry = readdir(files)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && unlink((dir + "/" + name).c_str()) == 0) ++removed;
  }
  closedir(files);
  rmdir(dir.c_str());
  return removed;
}

bool JackMetadataInUse(const std::string& dir) {
  return AnyProcessMapsFilesIn(dir);
}

namespace {

std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* files = opendir(dir.c_str())) {
    while (dirent* entry = readdir(files)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(files);
  }
  return names;
}

}  // namespace

int KeepJackMetadata(const std::string& dir, const std::string& keep) {
  const std::vector<std::string> names = NamesIn(dir);
  if (names.empty() || (mkdir(keep.c_str(), 0700) != 0 && errno != EEXIST)) return 0;
  int linked = 0;
  for (const auto& name : names) {
    if (link((dir + "/" + name).c_str(), (keep + "/" + name).c_str()) == 0) ++linked;
  }
  return linked;
}

int RestoreJackMetadata(const std::string& dir, const std::string& keep) {
  const std::vector<std::string> names = NamesIn(keep);
  int linked = 0;
  if (!names.empty() && AnyProcessMapsFilesIn(dir)) {
    mkdir(dir.c_str(), 0750);
    for (const auto& name : names) {
      if (link((keep + "/" + name).c_str(), (dir + "/" + name).c_str()) == 0) ++linked;
    }
  }
  for (const auto& name : names) unlink((keep + "/" + name).c_str());
  rmdir(keep.c_str());
  return linked;
}

}  // namespace kv5::test
