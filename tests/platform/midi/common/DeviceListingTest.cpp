// What every backend that makes its own lists shares: names told apart, and the lock that keeps
// a second updater process off an open device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/midi/common/DeviceLock.h"
#include "platform/midi/common/ListedNames.h"

namespace kv5 {
namespace {

using ::testing::ElementsAre;

TEST(ListedNames, RepeatedNamesAreNumberedInListOrder) {
  // Two identical units, and two ports whose names differ only after 31 bytes.
  const std::string longer = "USB MIDI Interface with a very long name";
  EXPECT_THAT(
      DistinctListedNames(
          {"TELVOR Q9", "Midi Through", "TELVOR Q9", longer + " A", longer + " B", "TELVOR Q9"}),
      ElementsAre("TELVOR Q9", "Midi Through", "TELVOR Q9 (2)", "USB MIDI Interface with a very ",
                  "USB MIDI Interface with a v (2)", "TELVOR Q9 (3)"));
  // A number that another device's own name shows is not given twice.
  EXPECT_THAT(DistinctListedNames({"A (2)", "A", "A"}), ElementsAre("A (2)", "A", "A (3)"));
}

class DeviceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv5-device-lock-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    parent_ = pattern;
    folder_ = parent_ + "/locks";
  }
  void TearDown() override {
    [[maybe_unused]] int ignored = std::system(("rm -rf '" + parent_ + "'").c_str());
  }

  // The result another process gets for key (0 held, 1 taken, 2 unavailable): a program of its
  // own, since a forked copy would share this process's locks.
  int ClaimInChild(const std::string& key) {
    const pid_t child = fork();
    if (child == 0) {
      execl(KV5_DEVICE_LOCK_PROBE, KV5_DEVICE_LOCK_PROBE, folder_.c_str(), key.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string parent_;
  std::string folder_;
};

TEST_F(DeviceLockTest, AnOpenDeviceIsRefusedToAnotherProcessAndSharedWithinThisOne) {
  std::unique_ptr<DeviceLock> first;
  std::unique_ptr<DeviceLock> second;
  ASSERT_EQ(ClaimDeviceLock(folder_, "jack\nTELVOR Q9:midi_in", &first), DeviceLockResult::Held);
  EXPECT_EQ(ClaimDeviceLock(folder_, "jack\nTELVOR Q9:midi_in", &second), DeviceLockResult::Held);
  EXPECT_EQ(ClaimInChild("jack\nTELVOR Q9:midi_in"), 1);
  EXPECT_EQ(ClaimInChild("jack\nTELVOR Q9:midi_out"), 0);
  first.reset();
  EXPECT_EQ(ClaimInChild("jack\nTELVOR Q9:midi_in"), 1) << "held while any open lasts";
  second.reset();
  EXPECT_EQ(ClaimInChild("jack\nTELVOR Q9:midi_in"), 0);
}

TEST_F(DeviceLockTest, AFolderOpenToOthersIsNotUsed) {
  ASSERT_EQ(mkdir(folder_.c_str(), 0777), 0);
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  std::unique_ptr<DeviceLock> held;
  EXPECT_EQ(ClaimDeviceLock(folder_, "alsa\nout\n128:0", &held), DeviceLockResult::Unavailable);
}

}  // namespace
}  // namespace kv5
