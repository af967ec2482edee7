#include "support/JackServer.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/midi/jack/JackMidi.h"
#include "support/JackShmFiles.h"

namespace kv5::test {
namespace {

std::string DefaultServer() {
  const char* value = std::getenv("JACK_DEFAULT_SERVER");
  return value != nullptr ? value : "<unset>";
}

// The files as they are now: a path may come back later as another server's file.
std::vector<std::pair<std::string, ino_t>> Identities(const std::vector<std::string>& paths) {
  std::vector<std::pair<std::string, ino_t>> files;
  for (const auto& path : paths) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) files.emplace_back(path, info.st_ino);
  }
  return files;
}

bool StillThere(const std::pair<std::string, ino_t>& file) {
  struct stat info {};
  return stat(file.first.c_str(), &info) == 0 && info.st_ino == file.second;
}

// A process that ended and was reaped, or a zombie nobody reaps (a container's init may not).
bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string pidText, command, state;
  stat >> pidText >> command >> state;
  return state == "Z";
}

bool WaitUntilGone(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ProcessGone(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(JackServerTest, ServesClientsAndStopsWithoutLeavingAnythingBehind) {
  setenv("JACK_DEFAULT_SERVER", "kv5-sentinel", 1);
  JackServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  const pid_t pid = server.Pid();
  EXPECT_TRUE(server.Running());
  EXPECT_EQ(DefaultServer(), server.Name());
  EXPECT_NE(OpenJackMidi(&error), nullptr) << error;
  const auto files = Identities(server.ShmFiles());
  // Its shared memory segment, its socket and its semaphores at least.
  EXPECT_GE(files.size(), 3u);
  EXPECT_TRUE(JackServerRegistered(server.Name()));

  server.Stop();
  EXPECT_FALSE(server.Running());
  EXPECT_TRUE(ProcessGone(pid));
  EXPECT_TRUE(server.ShmFiles().empty());
  for (const auto& file : files) EXPECT_FALSE(StillThere(file)) << file.first;
  EXPECT_EQ(server.RemovedByLastStop(), 0) << "a clean stop leaves nothing to tidy";
  EXPECT_FALSE(server.KilledByLastStop());
  EXPECT_FALSE(JackServerRegistered(server.Name()));
  EXPECT_EQ(DefaultServer(), "kv5-sentinel");
  EXPECT_EQ(OpenJackMidi(&error), nullptr) << "no client reaches a stopped server";
  server.Stop();  // a second stop is harmless
  unsetenv("JACK_DEFAULT_SERVER");
}

TEST(JackServerTest, TidiesUpAfterAServerThatWasKilled) {
  JackServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  auto client = OpenJackEndpoint("about to lose its server", &error);
  ASSERT_NE(client, nullptr) << error;
  const auto files = Identities(server.ShmFiles());
  ASSERT_FALSE(files.empty());
  EXPECT_TRUE(JackServerRegistered(server.Name()));
  server.Crash();  // a killed server cannot clean up after itself: its guard does
  EXPECT_FALSE(server.Running());
  EXPECT_FALSE(JackServerRegistered(server.Name())) << "its registry slot is free again";
  EXPECT_FALSE(server.KilledByLastStop()) << "it ended on its own";
  EXPECT_GT(server.RemovedByLastStop(), 0);
  for (const auto& file : files) EXPECT_FALSE(StillThere(file)) << file.first;
  client.reset();
  server.Stop();
  EXPECT_TRUE(server.ShmFiles().empty());
  EXPECT_EQ(DefaultServer(), "<unset>");
}

std::vector<std::string> PathsIn(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* files = opendir(dir.c_str())) {
    while (dirent* entry = readdir(files)) {
      if (entry->d_name[0] != '.') paths.push_back(dir + "/" + entry->d_name);
    }
    closedir(files);
  }
  return paths;
}

TEST(JackServerTest, AMetadataEnvironmentLeftByAKilledServerIsRemovedBeforeTheNextStarts) {
  const std::string dir = JackMetadataDir();
  if (JackMetadataInUse(dir)) {
    // A server this test did not start (the user's own) uses the environment: ours starts and
    // stops beside it and leaves it the very files it maps.
    const auto files = Identities(PathsIn(dir));
    JackServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error)) << error;
    server.Stop();
    for (const auto& file : files) EXPECT_TRUE(StillThere(file)) << file.first;
    return;
  }
  mkdir(dir.c_str(), 0750);
  const std::string marker = dir + "/left-by-a-killed-server";
  std::ofstream(marker) << "x";
  ASSERT_TRUE(std::ifstream(marker).good());
  JackServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  EXPECT_FALSE(std::ifstream(marker).good());
  server.Stop();
}

TEST(JackMetadata, OnlyAnEnvironmentNoProcessMapsIsRemoved) {
  char pattern[] = "/tmp/kv5-jack-db-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  for (const char* name : {"__db.001", "__db.002", "metadata.db"}) {
    std::ofstream(dir + "/" + name) << std::string(4096, '\0');
  }
  const int fd = open((dir + "/__db.001").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* region = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  ASSERT_NE(region, MAP_FAILED);
  EXPECT_EQ(RemoveStaleJackMetadata(dir), 0) << "a process maps it: it is in use";
  EXPECT_EQ(access(dir.c_str(), F_OK), 0);
  munmap(region, 4096);
  EXPECT_EQ(RemoveStaleJackMetadata(dir), 3);
  EXPECT_NE(access(dir.c_str(), F_OK), 0) << "the directory goes too";
  EXPECT_EQ(RemoveStaleJackMetadata(dir), 0) << "nothing there is nothing to do";
}

TEST(JackServerTest, ASecondServerWaitsUntilTheFirstIsGone) {
  // Servers that start and stop side by side have been seen to refuse each other's clients, so
  // the harness runs one at a time on the machine: a second waits for the first to be gone.
  JackServer first;
  std::string error;
  ASSERT_TRUE(first.Start(&error)) << error;
  JackServer second;
  std::atomic<bool> secondStarted{false};
  std::string secondError;
  std::thread starter([&] { secondStarted = second.Start(&secondError); });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_FALSE(secondStarted) << "the second server started while the first still ran";
  EXPECT_TRUE(first.Running());
  first.Stop();
  starter.join();
  ASSERT_TRUE(secondStarted) << secondError;
  EXPECT_NE(first.Name(), second.Name());
  EXPECT_TRUE(second.Running());
  second.Stop();
}

// Run as a child by the next test: starts a server, reports it, then waits to be killed.
TEST(JackServerTest, DISABLED_ServerOwnedByAProcessThatWillBeKilled) {
  JackServer server;
  std::string error;
  ASSERT_TRUE(server.Start(&error)) << error;
  std::cout << "server " << server.Pid() << "\n";
  std::cout << "guard " << server.GuardPid() << "\n";
  std::cout << "name " << server.Name() << "\n";
  for (const auto& file : server.ShmFiles()) std::cout << "file " << file << "\n";
  std::cout << "ready" << std::endl;
  pause();
}

// As a test runner kills a timed-out test: SIGKILL, so no destructor and no exit handler runs.
TEST(JackServerTest, ServerEndsWhenItsTestProcessIsKilled) {
  ChildProcess owner;
  std::string error;
  ASSERT_TRUE(
      owner.Start("/proc/self/exe",
                  {"--gtest_also_run_disabled_tests",
                   "--gtest_filter=JackServerTest.DISABLED_ServerOwnedByAProcessThatWillBeKilled"},
                  {}, &error))
      << error;
  pid_t server = -1;
  pid_t guard = -1;
  std::string name;
  std::vector<std::string> paths;
  std::string line;
  while (owner.ReadLine(&line, std::chrono::seconds(15)) && line != "ready") {
    if (line.rfind("server ", 0) == 0) server = std::stoi(line.substr(7));
    if (line.rfind("guard ", 0) == 0) guard = std::stoi(line.substr(6));
    if (line.rfind("name ", 0) == 0) name = line.substr(5);
    if (line.rfind("file ", 0) == 0) paths.push_back(line.substr(5));
  }
  ASSERT_EQ(line, "ready");
  ASSERT_GT(server, 0);
  const auto files = Identities(paths);
  ASSERT_FALSE(files.empty());

  owner.Stop(SIGKILL, std::chrono::seconds(5));
  ASSERT_TRUE(WaitUntilGone(server, std::chrono::seconds(10)));
  ASSERT_TRUE(WaitUntilGone(guard, std::chrono::seconds(10)));
  // The guard saw the test's end of its pipe close and stopped jackd, which cleaned up.
  for (const auto& file : files) EXPECT_FALSE(StillThere(file)) << file.first;
  EXPECT_FALSE(JackServerRegistered(name));
}

}  // namespace
}  // namespace kv5::test
