// The kv5update program against the q9-unit program over a private JACK server: real processes,
// real MIDI transport, production session timing. The failures chosen are the unit's error
// answers, which end a session at once, not timeouts.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/JackServer.h"

namespace kv5 {
namespace {

using std::chrono::seconds;

const char kWarning[] =
    "Warning: this build carries the synthetic test package; it is not firmware for a real "
    "unit.\n";
// A header, and the arrow with the package's stamp only where the stamps differ.
const char kOlderReport[] =
    "component\tunit -> package\n"
    "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n";
const char kCurrentReport[] =
    "component\tunit -> package\n"
    "SYSTEM:\t\t1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t1.01\n";
const char kFactoryReport[] =
    "component\tunit -> package\n"
    "SYSTEM:\t\t*.** -> 1.20\nPRESET:\t\t*.** -> 1.00\nBOOT:\t\t*.** -> 1.00\nSUBMCU:\t\t*.** -> "
    "1.01\n";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// One run of kv5update on the JACK backend, to its end.
Result Kv5Update(std::vector<std::string> args) {
  args.push_back("--backend");
  args.push_back("jack");
  test::ChildProcess run(KV5UPDATE_PATH, args, test::CapturedRun());
  Result result;
  result.code = run.Wait(seconds(90)).value_or(-1);
  result.out = run.Out();
  result.err = run.Err();
  return result;
}

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

class Kv5UpdateOverJack : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server_.Start(&error_)) << error_; }

  // Starts q9-unit on the server (as "TELVOR Q9" unless extra names it otherwise); returns once
  // its ports are published.
  void StartUnit(const std::vector<std::string>& extra, const std::string& name = "TELVOR Q9") {
    std::vector<std::string> args = {"--system", "jack", "--name", name};
    args.insert(args.end(), extra.begin(), extra.end());
    unit_ = std::make_unique<test::ChildProcess>();
    ASSERT_TRUE(unit_->Start(Q9UNIT_PATH, args, {}, &error_)) << error_;
    std::string line;
    ASSERT_TRUE(unit_->ReadLine(&line, seconds(20))) << "q9-unit did not start";
    ASSERT_EQ(line.rfind("ready: \"" + name + "\" on jack", 0), 0u) << line;
  }

  // Ends q9-unit with SIGTERM and returns what it reports then: a summary of what it received
  // and the verification of its flash against the package.
  std::string StopUnit() {
    kill(unit_->Pid(), SIGTERM);
    std::string report, line;
    while (unit_->ReadLine(&line, seconds(20))) report += line + "\n";
    const int status = unit_->Stop(SIGTERM, seconds(5));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    unit_.reset();
    return report;
  }

  test::JackServer server_;
  std::unique_ptr<test::ChildProcess> unit_;
  std::string error_;
};

TEST_F(Kv5UpdateOverJack, FullUpdateFromOlderFirmwareWithChecksBeforeAndAfter) {
  StartUnit({"--flash", "older"});

  Result list = Kv5Update({"list"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out, "MIDI IN devices:\n* 0  TELVOR Q9\nMIDI OUT devices:\n* 0  TELVOR Q9\n");

  Result check = Kv5Update({"check"});
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_EQ(check.out, kOlderReport);
  EXPECT_EQ(check.err, "");

  // A real MIDI system: the test package is written only when asked for in so many words.
  Result refused = Kv5Update({"update"});
  EXPECT_EQ(refused.code, 2);
  EXPECT_EQ(refused.err,
            std::string(kWarning) +
                "Refusing to write it to a MIDI device without --yes-write-test-package.\n");

  Result update =
      Kv5Update({"update", "--yes-write-test-package", "--in", "TELVOR Q9", "--out", "0"});
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_EQ(update.err, kWarning);
  EXPECT_NE(update.out.find("\n[10/10] SYSTEM info block: 4096 bytes written in "),
            std::string::npos)
      << update.out;
  EXPECT_TRUE(EndsWith(update.out, "\nVersion update completed.\n")) << update.out;
  EXPECT_NE(update.out.find("[4/10] BOOT unchanged, skipped\n"), std::string::npos);
  EXPECT_EQ(update.out.find('\r'), std::string::npos);

  check = Kv5Update({"check", "--in", "0", "--out", "TELVOR Q9"});
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_EQ(check.out, kCurrentReport);

  const std::string report = StopUnit();
  // BOOT was current, so steps 4 and 5 sent nothing: 293 chunks, four erases, one finish.
  EXPECT_NE(report.find("write 293 finish 1 erase 4"), std::string::npos) << report;
  EXPECT_NE(report.find("flash verification: OK: flash matches the package\n"), std::string::npos)
      << report;
}

TEST_F(Kv5UpdateOverJack, UnitErrorsEndTheSessionWithTheWindowsMessages) {
  struct Case {
    std::vector<std::string> unitArgs;
    std::vector<std::string> command;
    std::string message;
    std::string unitReceived;  // part of q9-unit's summary
  };
  const std::vector<Case> cases = {
      {{"--device-code", "4D003300"},
       {"update", "--yes-write-test-package"},
       "Illegal device connected.\n",
       "received 1 messages: identity 1\n"},
      {{"--device-code", "4D003300"}, {"check"}, "Illegal device connected.\n", "identity 1\n"},
      {{"--mode", "normal"},
       {"update", "--yes-write-test-package"},
       "Please use the firmware update mode.\n",
       "identity 1 enter 1\n"},
      // Six resends of the first erase; the seventh error answer ends the session.
      {{"--fault", "code:erase:1-7:5"},
       {"update", "--yes-write-test-package"},
       "Transfer error occurred.\n",
       "identity 1 enter 1 erase 7 read 1\n"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.unitArgs[0] + " " + each.unitArgs[1] + " / " + each.command[0]);
    StartUnit(each.unitArgs);
    const Result result = Kv5Update(each.command);
    EXPECT_EQ(result.code, 1);
    // The message, and under it the line on what to do next.
    const size_t at = result.err.rfind(each.message);
    ASSERT_NE(at, std::string::npos) << result.err;
    EXPECT_EQ(result.err.compare(at + each.message.size(), 12, "What to do: "), 0) << result.err;
    EXPECT_TRUE(EndsWith(result.err, "\n")) << result.err;
    EXPECT_EQ(result.out.find("completed"), std::string::npos);
    const std::string report = StopUnit();
    EXPECT_NE(report.find(each.unitReceived), std::string::npos) << report;
    EXPECT_NE(report.find("flash verification: FAILED"), std::string::npos) << report;
  }
}

TEST_F(Kv5UpdateOverJack, OneUpdaterPerDeviceAndAUnitThatGoesEndsTheUpdateAtOnce) {
  // 50 ms a write keeps the update going for some 15 s, so that the second updater meets it
  // running also when the machine is slow to start a program.
  StartUnit({"--flash", "older", "--write-ms", "50"});
  test::ChildProcess update(KV5UPDATE_PATH,
                            {"update", "--yes-write-test-package", "--backend", "jack"},
                            test::CapturedRun());
  ASSERT_TRUE(update.WaitForOutput("[1/10]", seconds(60))) << update.Out() << update.Err();

  // A second updater process finds the devices held: it opens nothing and sends nothing.
  const Result second = Kv5Update({"check"});
  EXPECT_EQ(second.code, 2);
  EXPECT_NE(second.err.find("Can't open MIDI Out device.\nAnother program may be using the device"),
            std::string::npos)
      << second.err;

  // The unit's program ends in the middle of the update.
  const auto gone = std::chrono::steady_clock::now();
  kill(unit_->Pid(), SIGTERM);
  const std::optional<int> code = update.Wait(seconds(20));
  const auto took = std::chrono::steady_clock::now() - gone;
  EXPECT_EQ(code, 1);
  EXPECT_LT(took, seconds(2));
  std::printf(
      "unit gone -> session ended: %lld ms\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
  EXPECT_NE(update.Err().find("Can't open MIDI Out device.\nThe MIDI device disappeared during "
                              "the session"),
            std::string::npos)
      << update.Err();
  unit_->Stop(SIGTERM, seconds(5));
  unit_.reset();

  // The unit is back: the next update finds it and completes.
  StartUnit({"--flash", "older"});
  const Result again = Kv5Update({"update", "--yes-write-test-package"});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_NE(StopUnit().find("flash verification: OK"), std::string::npos);
}

TEST_F(Kv5UpdateOverJack, DevicesMustBeThere) {
  // No unit on the server: nothing to preselect, nothing sent.
  Result check = Kv5Update({"check"});
  EXPECT_EQ(check.code, 2);
  EXPECT_EQ(check.err,
            "The MIDI IN list is empty: the JACK server shows no device. Connect the unit, or "
            "choose another system with --backend.\n");

  StartUnit({"--flash", "factory"}, "Q9 Bench");
  Result list = Kv5Update({"list"});
  EXPECT_EQ(list.out, "MIDI IN devices:\n  0  Q9 Bench\nMIDI OUT devices:\n  0  Q9 Bench\n");
  check = Kv5Update({"check"});
  EXPECT_EQ(check.code, 2);
  EXPECT_NE(check.err.find("No MIDI IN device is preselected"), std::string::npos) << check.err;
  check = Kv5Update({"check", "--in", "Q9 Bench", "--out", "Q9 Bench"});
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_EQ(check.out, kFactoryReport);
  StopUnit();
}

}  // namespace
}  // namespace kv5
