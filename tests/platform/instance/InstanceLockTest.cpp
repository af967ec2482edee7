#include "platform/instance/InstanceLock.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kv5 {
namespace {

// A name no other test run uses.
std::string UniqueName(const char* what) {
  return std::string("kv5 lock test ") + what + " " + std::to_string(getpid());
}

// The probe program in a process of its own, with pipes to its standard input and output.
class Probe {
 public:
  explicit Probe(std::vector<std::string> args) {
    int toChild[2], fromChild[2];
    // Close-on-exec, so that no probe inherits the pipes of another and keeps them open.
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    args.insert(args.begin(), KV5_INSTANCE_LOCK_PROBE);
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, KV5_INSTANCE_LOCK_PROBE, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
  }
  ~Probe() {
    Release();
    if (output_ >= 0) close(output_);
  }

  // The first line the probe printed: its claim result.
  std::string Result() {
    std::string line;
    char c;
    while (read(output_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  // Lets a holding probe end normally, and waits for it.
  void Release() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    Wait();
  }
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Wait();
  }

 private:
  void Wait() {
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

// The lock's address as the Linux implementation forms it: abstract, per user.
sockaddr_un LockAddress(const std::string& name, socklen_t* length) {
  const std::string text = "kv5update/" + std::to_string(getuid()) + "/" + name;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, text.data(), text.size());
  *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + text.size());
  return address;
}

TEST(InstanceLock, SecondClaimInTheSameProcessFindsTheLockTaken) {
  const std::string name = UniqueName("same");
  std::unique_ptr<InstanceLock> first, second;
  ASSERT_EQ(ClaimInstanceLock(name, &first), ClaimResult::Created);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ClaimInstanceLock(name, &second), ClaimResult::AlreadyExists);
  EXPECT_EQ(second, nullptr);
  first.reset();
  EXPECT_EQ(ClaimInstanceLock(name, &second), ClaimResult::Created);
}

TEST(InstanceLock, HeldByAnotherProcessUntilItEnds) {
  const std::string name = UniqueName("process");
  // Ends normally.
  {
    Probe holder({name, "hold"});
    ASSERT_EQ(holder.Result(), "Created");
    std::unique_ptr<InstanceLock> mine;
    EXPECT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::AlreadyExists);
    Probe other({name});
    EXPECT_EQ(other.Result(), "AlreadyExists");
    holder.Release();
    EXPECT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::Created);
  }
  // Killed: the system frees the name all the same; and a lock held here is seen by others.
  {
    Probe holder({name, "hold"});
    ASSERT_EQ(holder.Result(), "Created");
    holder.Kill();
    std::unique_ptr<InstanceLock> mine;
    ASSERT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::Created);
    Probe other({name});
    EXPECT_EQ(other.Result(), "AlreadyExists");
  }
}

TEST(InstanceLock, TwoProcessesStartingAtOnceGetOneLock) {
  const std::string name = UniqueName("race");
  std::vector<std::unique_ptr<Probe>> probes;
  for (int i = 0; i < 6; ++i) {
    probes.push_back(std::make_unique<Probe>(std::vector<std::string>{name, "hold"}));
  }
  int created = 0, taken = 0;
  for (auto& probe : probes) {
    const std::string result = probe->Result();
    created += result == "Created";
    taken += result == "AlreadyExists";
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(taken, 5);
}

TEST(InstanceLock, NameHeldByAnObjectOfAnotherKindIsNotCreated) {
  for (int type : {SOCK_DGRAM, SOCK_SEQPACKET, SOCK_STREAM}) {
    const std::string name = UniqueName("kind") + " " + std::to_string(type);
    socklen_t length = 0;
    const sockaddr_un address = LockAddress(name, &length);
    const int other = socket(AF_UNIX, type, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(bind(other, reinterpret_cast<const sockaddr*>(&address), length), 0);
    std::unique_ptr<InstanceLock> mine;
    // A stream socket that does not listen is not a lock of this program either.
    EXPECT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::Failed) << "socket type " << type;
    EXPECT_EQ(mine, nullptr);
    close(other);
    EXPECT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::Created) << "socket type " << type;
  }
}

TEST(InstanceLock, OtherUsersDoNotShareTheName) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to claim as another user";
  const std::string name = UniqueName("user");
  std::unique_ptr<InstanceLock> mine;
  ASSERT_EQ(ClaimInstanceLock(name, &mine), ClaimResult::Created);
  Probe stranger({name, "--uid", "65534"});
  EXPECT_EQ(stranger.Result(), "Created");
}

TEST(InstanceLock, NameTooLongForTheSystemFails) {
  std::unique_ptr<InstanceLock> mine;
  EXPECT_EQ(ClaimInstanceLock(std::string(200, 'x'), &mine), ClaimResult::Failed);
  EXPECT_EQ(mine, nullptr);
}

}  // namespace
}  // namespace kv5
