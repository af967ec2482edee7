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
  // The result another process gets for key (0 held, 1 taken, 2 unavailable): a program of its
  // own, since a forked copy would share this process's locks.
  int ClaimInChild(const std::string& key) {
    const pid_t child = fork();
    if (child == 0) {
      execl(KV5_DEVICE_LOCK_PROBE, KV5_DEVICE_LOCK_PROBE, space_.c_str(), key.c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Apart from every other run of these tests and from the updaters on this machine.
  const std::string space_ = "test-" + std::to_string(getpid());
};

TEST_F(DeviceLockTest, AnOpenDeviceIsRefusedToAnotherProcessAndSharedWithinThisOne) {
  std::unique_ptr<DeviceLock> first;
  std::unique_ptr<DeviceLock> second;
  const std::string in = CardPortLockKey("TELVOR TELVOR Q9 at usb-0000:00:14.0-2", 0, 0, false);
  const std::string out = CardPortLockKey("TELVOR TELVOR Q9 at usb-0000:00:14.0-2", 0, 0, true);
  const std::string twin = CardPortLockKey("TELVOR TELVOR Q9 at usb-0000:00:14.0-3", 0, 0, false);
  ASSERT_EQ(ClaimDeviceLock(in, &first, space_), DeviceLockResult::Held);
  EXPECT_EQ(ClaimDeviceLock(in, &second, space_), DeviceLockResult::Held);
  EXPECT_EQ(ClaimInChild(in), 1);
  EXPECT_EQ(ClaimInChild(out), 0);
  EXPECT_EQ(ClaimInChild(twin), 0) << "a second unit of the same model, plugged in elsewhere";
  first.reset();
  EXPECT_EQ(ClaimInChild(in), 1) << "held while any open lasts";
  second.reset();
  EXPECT_EQ(ClaimInChild(in), 0);
}

}  // namespace
}  // namespace kv5
