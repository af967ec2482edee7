// The instance lock on Linux: a stream socket bound to an abstract name that carries the user id.
// Binding is atomic across processes, and the kernel frees the name when the socket's last
// descriptor closes, which process end does however the process ends.
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/instance/InstanceLock.h"

namespace kv5 {
namespace {

// Owns one socket descriptor.
class SocketFd {
 public:
  explicit SocketFd(int type) : fd_(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0)) {}
  ~SocketFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  SocketFd(const SocketFd&) = delete;
  SocketFd& operator=(const SocketFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

class UnixInstanceLock : public InstanceLock {
 public:
  explicit UnixInstanceLock(int type) : socket_(type) {}
  SocketFd& Socket() { return socket_; }

 private:
  SocketFd socket_;
};

struct AbstractAddress {
  sockaddr_un address{};
  socklen_t length = 0;
};

// The abstract name (leading zero byte, no file) is per user, so other users' copies do not count.
bool MakeAddress(const std::string& name, AbstractAddress* out) {
  const std::string text = "kv5update/" + std::to_string(::getuid()) + "/" + name;
  if (text.size() + 1 > sizeof out->address.sun_path) return false;
  out->address.sun_family = AF_UNIX;
  out->address.sun_path[0] = '\0';
  std::memcpy(out->address.sun_path + 1, text.data(), text.size());
  out->length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
  return true;
}

int Bind(const SocketFd& socket, const AbstractAddress& name) {
  if (!socket.valid()) return errno;
  return ::bind(socket.get(), reinterpret_cast<const sockaddr*>(&name.address), name.length) == 0
             ? 0
             : errno;
}

// Abstract names are kept apart per socket type, so a stream socket binds even where a socket of
// another type holds the name; such a name belongs to something else and is not ours to take.
bool HeldByAnotherKind(const AbstractAddress& name) {
  for (int type : {SOCK_DGRAM, SOCK_SEQPACKET}) {
    SocketFd probe(type);
    if (Bind(probe, name) == EADDRINUSE) return true;
  }
  return false;
}

// A copy of this program holds the name with a listening stream socket; anything else bound to it
// (a stream socket that does not listen) is of another kind. A copy that has just bound the name
// listens a moment later, so a refusal is asked again before it counts.
bool HeldByThisProgram(const AbstractAddress& name) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) ::usleep(1000);
    SocketFd probe(SOCK_STREAM | SOCK_NONBLOCK);
    if (!probe.valid()) return false;
    const auto* address = reinterpret_cast<const sockaddr*>(&name.address);
    if (::connect(probe.get(), address, name.length) == 0) return true;
    if (errno == EAGAIN || errno == EINPROGRESS) return true;  // listening, its backlog full
    if (errno != ECONNREFUSED) return false;
  }
  return false;
}

}  // namespace

ClaimResult ClaimInstanceLock(const std::string& name, std::unique_ptr<InstanceLock>* held) {
  AbstractAddress address;
  if (!MakeAddress(name, &address)) return ClaimResult::Failed;
  auto lock = std::make_unique<UnixInstanceLock>(SOCK_STREAM);
  const int error = Bind(lock->Socket(), address);
  if (error == EADDRINUSE) {
    return HeldByThisProgram(address) ? ClaimResult::AlreadyExists : ClaimResult::Failed;
  }
  if (error != 0) return ClaimResult::Failed;
  if (HeldByAnotherKind(address)) return ClaimResult::Failed;
  if (::listen(lock->Socket().get(), 1) != 0) return ClaimResult::Failed;
  *held = std::move(lock);
  return ClaimResult::Created;
}

}  // namespace kv5
