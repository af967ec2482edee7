#include "tools/kv5update/ChildSession.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace kv5 {
namespace {

// A pipe end that is closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

bool MakePipe(Fd* read, Fd* write) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  *read = Fd(fds[0]);
  *write = Fd(fds[1]);
  return true;
}

std::string OwnProgram() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<size_t>(length));
}

// One output stream of the child: what has been read, cut into lines.
struct Stream {
  Fd fd;
  std::string pending;
  std::vector<std::string> lines;
  bool open = true;

  void Read() {
    char buffer[4096];
    while (open) {
      const ssize_t got = read(fd.Get(), buffer, sizeof buffer);
      if (got > 0) {
        pending.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
      open = false;  // end of output, or an error that ends it
      fd.Reset();
    }
    for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      lines.push_back(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
    if (!open && !pending.empty()) {
      lines.push_back(pending);
      pending.clear();
    }
  }
};

class PosixChildSession : public ChildSession {
 public:
  PosixChildSession(pid_t pid, Fd out, Fd err) : pid_(pid) {
    out_.fd = std::move(out);
    err_.fd = std::move(err);
  }

  ~PosixChildSession() override {
    // A child left running is ended as Ctrl-C ends one, then reaped.
    if (!reaped_) {
      Interrupt();
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }

  void TakeLines(std::vector<std::string>* out, std::vector<std::string>* err) override {
    out_.Read();
    err_.Read();
    for (std::string& line : out_.lines) out->push_back(std::move(line));
    for (std::string& line : err_.lines) err->push_back(std::move(line));
    out_.lines.clear();
    err_.lines.clear();
  }

  void Interrupt() override {
    if (interrupted_ || reaped_) return;
    interrupted_ = true;
    kill(pid_, SIGINT);
  }

  bool Ended() override {
    if (!reaped_) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        reaped_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
    }
    return reaped_ && !out_.open && !err_.open;
  }

  int ExitCode() const override { return exitCode_; }

 private:
  const pid_t pid_;
  Stream out_;
  Stream err_;
  bool interrupted_ = false;
  bool reaped_ = false;
  int exitCode_ = -1;
};

}  // namespace

bool ChildSession::Supported() {
  return true;
}

std::unique_ptr<ChildSession> ChildSession::Start(const std::vector<std::string>& args,
                                                  std::string* error) {
  const std::string program = OwnProgram();
  if (program.empty()) {
    *error = "The program's own path cannot be found: " + std::string(std::strerror(errno));
    return nullptr;
  }
  Fd outRead, outWrite, errRead, errWrite;
  if (!MakePipe(&outRead, &outWrite) || !MakePipe(&errRead, &errWrite)) {
    *error = "No pipe for a unit's session: " + std::string(std::strerror(errno));
    return nullptr;
  }
  std::vector<std::string> words = {program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    *error = "No process for a unit's session: " + std::string(std::strerror(errno));
    return nullptr;
  }
  if (pid == 0) {
    // A group of its own: Ctrl-C at the terminal reaches the parent alone, which passes it on
    // once to every session (a second one would end a session without its orderly abort).
    setpgid(0, 0);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
#endif
    dup2(outWrite.Get(), STDOUT_FILENO);
    dup2(errWrite.Get(), STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  (void)parent;
  outWrite.Reset();
  errWrite.Reset();
  for (const Fd* fd : {&outRead, &errRead}) {
    fcntl(fd->Get(), F_SETFL, fcntl(fd->Get(), F_GETFL) | O_NONBLOCK);
  }
  return std::make_unique<PosixChildSession>(pid, std::move(outRead), std::move(errRead));
}

}  // namespace kv5
