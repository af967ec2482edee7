// The q9-unit program against a private JACK server: it appears in the updater's lists as
// "TELVOR Q9", answers through its ports, and reports on SIGTERM.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include "platform/midi/jack/JackMidi.h"
#include "support/ChildProcess.h"
#include "support/DeviceLists.h"
#include "support/HostPorts.h"
#include "support/JackServer.h"
#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::Hex;
using ::testing::Contains;
using ::testing::HasSubstr;

class Q9UnitJack : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start(&error_)) << error_; }

  // Starts q9-unit and waits for its "ready" line.
  void StartUnit(const std::vector<std::string>& args) {
    ASSERT_TRUE(unit_.Start(KV5_Q9_UNIT, args, {}, &error_)) << error_;
    std::string line;
    ASSERT_TRUE(unit_.ReadLine(&line, 10s)) << "q9-unit did not get ready";
    ASSERT_EQ(line.rfind("ready", 0), 0u) << line;
  }

  // SIGTERM, then everything it printed until it ended, and its exit status.
  std::string StopUnit(int* status) {
    kill(unit_.Pid(), SIGTERM);
    std::string output;
    std::string line;
    while (unit_.ReadLine(&line, 10s)) output += line + "\n";
    *status = unit_.Stop(SIGKILL, 5s);
    return output;
  }

  // Declared first: it stops last, after the unit has gone.
  test::JackServer server_;
  test::ChildProcess unit_;
  std::string error_;
};

TEST_F(Q9UnitJack, AppearsAsTelvorQ9AnswersAndReports) {
  StartUnit({"--system", "jack", "--flash", "package", "--fault", "code:erase:1:7"});
  {
    auto backend = OpenJackMidi(&error_);
    ASSERT_NE(backend, nullptr) << error_;
    EXPECT_THAT(test::DeviceNames(backend->In()), Contains("TELVOR Q9"));
    EXPECT_THAT(test::DeviceNames(backend->Out()), Contains("TELVOR Q9"));
    test::HostPorts host(*backend);
    ASSERT_TRUE(host.Open("TELVOR Q9"));
    EXPECT_EQ(host.Ask(Hex("F0 7E 00 06 01 F7")),
              Hex("F0 7E 00 06 02 7D 4D 00 12 00 01 02 00 00 F7"));
    EXPECT_EQ(host.Ask(test::ReadRequest(0x170FE0, 4)),
              Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7"));
    EXPECT_EQ(host.Ask(test::VendorRequest(0x01)), Hex("F0 7D 00 4D 00 00 F7"));
    EXPECT_EQ(host.Ask(test::EraseRequest(0x170000, 0x1000)), Hex("F0 7D 00 4D 00 07 F7"));
  }
  int status = 0;
  const std::string output = StopUnit(&status);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 0) << output;
  EXPECT_THAT(output, HasSubstr("identity 1 enter 1 erase 1 read 1"));
  EXPECT_THAT(output, HasSubstr("1 x code 7"));
  EXPECT_THAT(output, HasSubstr("flash verification: OK: flash matches the package"));
}

TEST_F(Q9UnitJack, ReportsAFlashThatDoesNotVerify) {
  StartUnit({"--system", "jack", "--flash", "older", "--mode", "normal", "--verify-exit"});
  {
    auto backend = OpenJackMidi(&error_);
    ASSERT_NE(backend, nullptr) << error_;
    test::HostPorts host(*backend);
    ASSERT_TRUE(host.Open("TELVOR Q9"));
    EXPECT_EQ(host.Ask(test::VendorRequest(0x01)), Hex("F0 7D 00 4D 00 0B F7"));
  }
  int status = 0;
  const std::string output = StopUnit(&status);
  ASSERT_TRUE(WIFEXITED(status)) << output;
  EXPECT_EQ(WEXITSTATUS(status), 1) << output;
  EXPECT_THAT(output, HasSubstr("flash verification: FAILED: mismatch at 0x170FE2"));
}

}  // namespace
}  // namespace kv5
