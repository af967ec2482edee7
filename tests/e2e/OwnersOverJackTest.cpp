// What owners ask of kv5update, over a private JACK server with q9-unit programs: finding the
// unit by probing, the support log, the line on what to do after a failure, and several units
// updated side by side. Whole programs where the production timing costs nothing; sessions
// in-process with a fast timing table where a failure needs a timeout.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/midi/SystemEndpoint.h"
#include "platform/midi/SystemMidi.h"
#include "session/StringTable.h"
#include "support/ChildProcess.h"
#include "support/FastTiming.h"
#include "support/JackServer.h"
#include "tools/kv5update/FrontEnd.h"
#include "tools/kv5update/NextSteps.h"

namespace kv5 {
namespace {

using std::chrono::seconds;

const char kOlderReport[] =
    "component\tunit -> package\nSYSTEM:\t\t1.10 -> "
    "1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n";

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

Result Kv5Update(std::vector<std::string> args, seconds limit = seconds(90)) {
  args.insert(args.begin(), {"--backend", "jack"});
  test::ChildProcess run(KV5UPDATE_PATH, args, test::CapturedRun());
  Result result;
  result.code = run.Wait(limit).value_or(-1);
  result.out = run.Out();
  result.err = run.Err();
  return result;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return {};
  const size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1,
                     end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class OwnersOverJack : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Start(&error_)) << error_;
    logPath_ = ::testing::TempDir() + "kv5update-owners-" + std::to_string(getpid()) + ".log";
  }
  void TearDown() override {
    units_.clear();
    std::remove(logPath_.c_str());
    // update --all: each unit's own log.
    for (const char* unit : {".1", ".2", ".3"}) std::remove((logPath_ + unit).c_str());
  }

  void StartUnit(const std::string& name, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--system", "jack", "--name", name};
    args.insert(args.end(), extra.begin(), extra.end());
    auto unit = std::make_unique<test::ChildProcess>();
    ASSERT_TRUE(unit->Start(Q9UNIT_PATH, args, {}, &error_)) << error_;
    std::string line;
    ASSERT_TRUE(unit->ReadLine(&line, seconds(20))) << "q9-unit did not start";
    ASSERT_EQ(line.rfind("ready: \"" + name + "\" on jack", 0), 0u) << line;
    units_[name] = std::move(unit);
  }

  // What q9-unit reports when it ends: what it received, and whether its flash is the package.
  std::string StopUnit(const std::string& name) {
    std::unique_ptr<test::ChildProcess>& unit = units_[name];
    kill(unit->Pid(), SIGTERM);
    std::string report, line;
    while (unit->ReadLine(&line, seconds(20))) report += line + "\n";
    unit->Stop(SIGTERM, seconds(5));
    units_.erase(name);
    return report;
  }

  // One command in this process on a JACK client of its own, with a fast timing table.
  Result RunInProcess(const FrontEndOptions& options) {
    std::unique_ptr<MidiBackend> jack = OpenMidiSystem(MidiSystem::Jack);
    Result result;
    if (!jack) return result;
    std::ostringstream out, err;
    ConsoleStreams streams{out, err, false, 80};
    std::atomic<int> interrupt{0};
    // The failures that wait for a timeout end within a second.
    result.code = RunCommand(options, *jack, false, streams, interrupt, FastTiming(500));
    result.out = out.str();
    result.err = err.str();
    return result;
  }

  test::JackServer server_;
  std::map<std::string, std::unique_ptr<test::ChildProcess>> units_;
  std::string error_;
  std::string logPath_;
};

// Another client on the server with MIDI ports that never answers; it keeps what it receives.
class SilentClient {
 public:
  explicit SilentClient(const std::string& name) {
    std::string error;
    endpoint_ = OpenSystemEndpoint(MidiSystem::Jack, name, &error);
    if (endpoint_) {
      endpoint_->SetReceiver([this](const uint8_t* bytes, size_t length) {
        std::lock_guard<std::mutex> hold(lock_);
        received_.emplace_back(bytes, bytes + length);
      });
    }
  }
  bool Ready() const { return endpoint_ != nullptr; }
  std::vector<std::vector<uint8_t>> Received() {
    std::lock_guard<std::mutex> hold(lock_);
    return received_;
  }

 private:
  std::mutex lock_;
  std::vector<std::vector<uint8_t>> received_;
  std::unique_ptr<MidiEndpoint> endpoint_;
};

TEST_F(OwnersOverJack, ProbeFindsTheUnitsAndSendsNothingElse) {
  StartUnit("Q9 A");
  StartUnit("Q9 B");
  SilentClient other("Other Synth");
  ASSERT_TRUE(other.Ready());

  const Result probe = Kv5Update({"probe"});
  EXPECT_EQ(probe.code, 0) << probe.err;
  EXPECT_TRUE(Has(probe.out, "unit 4D 00 12 00  IN ")) << probe.out;
  EXPECT_TRUE(std::regex_search(probe.out, std::regex("IN [0-9] \"Q9 A\"  OUT [0-9] \"Q9 A\"\n")))
      << probe.out;
  EXPECT_TRUE(std::regex_search(probe.out, std::regex("IN [0-9] \"Q9 B\"  OUT [0-9] \"Q9 B\"\n")))
      << probe.out;
  EXPECT_FALSE(Has(probe.out, "Other Synth")) << probe.out;

  // Two units: --probe stops before anything but the identity request went out.
  const Result check = Kv5Update({"check", "--probe"});
  EXPECT_EQ(check.code, 2);
  EXPECT_TRUE(Has(check.out, "\"Q9 A\"") && Has(check.out, "\"Q9 B\"")) << check.out;
  EXPECT_TRUE(Has(check.err, "--probe found several units")) << check.err;

  const std::vector<uint8_t> identityRequest = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
  const auto heard = other.Received();
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0], identityRequest);
  EXPECT_EQ(heard[1], identityRequest);
  EXPECT_TRUE(Has(StopUnit("Q9 A"), "received 2 messages: identity 2\n"));

  // One unit left: --probe takes it.
  const Result one = Kv5Update({"check", "--probe"});
  EXPECT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(one.out, kOlderReport);
}

TEST_F(OwnersOverJack, ProbeNamesADeviceCodeThePackageRefuses) {
  StartUnit("Q9 Other", {"--device-code", "4D003300"});
  const Result probe = Kv5Update({"probe"});
  EXPECT_EQ(probe.code, 1);
  EXPECT_TRUE(Has(probe.out, "No unit answered")) << probe.out;
  EXPECT_TRUE(Has(probe.out,
                  "not a unit this package fits: device code 4D 00 33 00  IN 0 "
                  "\"Q9 Other\"  OUT 0 \"Q9 Other\"\n"))
      << probe.out;
  const Result update = Kv5Update({"update", "--probe", "--yes-write-test-package"});
  EXPECT_EQ(update.code, 2);
  EXPECT_TRUE(Has(update.err, "--probe found no unit")) << update.err;
  EXPECT_TRUE(Has(StopUnit("Q9 Other"), "received 2 messages: identity 2\n"));
}

TEST_F(OwnersOverJack, LogShowsEveryMessageTheRetriesAndTheOutcome) {
  StartUnit("TELVOR Q9", {"--fault", "code:erase:1:5", "--fault", "drop-request:write:3"});
  FrontEndOptions options;
  options.command = Command::Update;
  options.writeTestPackage = true;
  options.logPath = logPath_;
  const Result update = RunInProcess(options);
  EXPECT_EQ(update.code, 0) << update.err;
  const std::string report = StopUnit("TELVOR Q9");
  EXPECT_TRUE(Has(report, "flash verification: OK")) << report;

  const std::string log = ReadFile(logPath_);
  for (const std::string& part :
       {std::string("ms  kv5update "),
        std::string("ms  package stamps: SYSTEM 1.20 PRESET 1.00 "
                    "BOOT 1.00 SUBMCU 1.01\n"),
        std::string("ms  MIDI system: jack\n"), std::string("ms  MIDI IN 0 \"TELVOR Q9\"\n"),
        std::string("ms  MIDI OUT 0 \"TELVOR Q9\"\n"),
        std::string("ms  -> identity request  [F0 7E 00 06 01 F7]\n"),
        std::string("ms  <- identity reply, device code 4D 00 12 00  [F0 7E"),
        std::string("ms  -> enter update mode  [F0 7D 00 4D 01 F7]\n"),
        std::string("ms  -> read 0x04AFFC len 4  ["),
        std::string("ms  step 1/10: erase SYSTEM info block (0x170000, 0x001000 bytes)\n"),
        std::string("ms  -> erase 0x170000 size 0x001000  ["),
        std::string("ms  <- result code 5 (error)  [F0 7D 00 4D 00 05 F7]\n"),
        std::string("ms  retry: erase sent again (attempt 2): the answer was result code 5 "
                    "(error)\n"),
        std::string("ms  -> write 0x04B000 len 4096 CRC 0x"),
        std::string("ms  retry: write sent again (attempt 2): no answer within "),
        std::string("ms  status \"Data transmit  0 / 110592 \"\n"),
        std::string("ms  -> finish  [F0 7D 00 4D 04 F7]\n")}) {
    EXPECT_TRUE(Has(log, part)) << part;
  }
  EXPECT_EQ(LastLine(log).substr(LastLine(log).find("ms  ")),
            "ms  outcome: completed: Version update completed.");
  // Every line begins with its time stamp; a write's bytes are shortened.
  EXPECT_TRUE(std::regex_search(log, std::regex("^ *[0-9]+ ms  ")));
  EXPECT_FALSE(std::regex_search(log, std::regex("\n(?! *[0-9]+ ms  )[^\n]")));
  EXPECT_TRUE(Has(log, " ... (4700 bytes) ... ")) << log.substr(0, 2000);
}

// A unit that refuses to write a cell twice loses the answer to one write: the chunk is read
// back instead of failing the update, and update --verify reads the whole flash back over the
// same ports.
TEST_F(OwnersOverJack, ALostWriteAnswerIsReadBackAndTheUpdateVerified) {
  StartUnit("TELVOR Q9", {"--fault", "drop:write:3"});
  FrontEndOptions options;
  options.command = Command::Update;
  options.writeTestPackage = true;
  options.verify = true;
  options.logPath = logPath_;
  const Result update = RunInProcess(options);
  EXPECT_EQ(update.code, 0) << update.err;
  EXPECT_TRUE(Has(update.out, "SYSTEM: verified")) << update.out;
  const std::string report = StopUnit("TELVOR Q9");
  EXPECT_TRUE(Has(report, "flash verification: OK")) << report;
  EXPECT_TRUE(Has(report, "code 22")) << report;  // the resend was refused, not written again
  // The update itself read a whole chunk back (its only other read is the BOOT stamp's).
  const std::string log = ReadFile(logPath_);
  const std::string updating = log.substr(0, log.find("outcome: completed"));
  EXPECT_TRUE(std::regex_search(updating, std::regex("-> read 0x[0-9A-F]{6} len 4096 ")))
      << updating.substr(0, 3000);
}

TEST_F(OwnersOverJack, CtrlCLeavesAReadableLog) {
  StartUnit("TELVOR Q9");
  test::ChildProcess run(
      KV5UPDATE_PATH,
      {"--backend", "jack", "update", "--yes-write-test-package", "--log", logPath_},
      test::CapturedRun());
  ASSERT_TRUE(run.WaitForOutput("[3/10] PRESET: Data transmit", seconds(60))) << run.Err();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(seconds(30)).value_or(-1), 130) << run.Err();
  StopUnit("TELVOR Q9");

  const std::string log = ReadFile(logPath_);
  EXPECT_TRUE(Has(log, "ms  step 3/10: write PRESET (110592 bytes at 0x04B000)\n"))
      << log.substr(0, 2000);
  EXPECT_TRUE(Has(log, "ms  -> write 0x04B000 len 4096 CRC 0x"));
  EXPECT_EQ(log.back(), '\n');
  EXPECT_TRUE(Has(LastLine(log), "outcome: interrupted: the session was aborted")) << LastLine(log);
}

TEST_F(OwnersOverJack, EachFailureOfTheUnitSaysWhatToDoNext) {
  struct Case {
    std::vector<std::string> unitArgs;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--fault", "silent:identity:*"}, LoadString(IDS_TIMEOUT_IDENTIFY)},
      {{"--device-code", "4D003300"}, LoadString(IDS_ILLEGAL_DEVICE)},
      {{"--mode", "normal"}, LoadString(IDS_USE_UPDATE_MODE)},
      // The BOOT stamp read that goes unanswered is a transfer error too.
      {{"--fault", "drop-request:read:1"}, LoadString(IDS_TRANSFER_ERROR)},
      {{"--fault", "drop-request:erase:1"}, LoadString(IDS_TIMEOUT_ERASE)},
      {{"--fault", "code:erase:1-7:5"}, LoadString(IDS_TRANSFER_ERROR)},
      {{"--fault", "drop-request:write:1-"}, LoadString(IDS_TIMEOUT_WRITE)},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.message);
    StartUnit("TELVOR Q9", each.unitArgs);
    FrontEndOptions options;
    options.command = Command::Update;
    options.writeTestPackage = true;
    const Result update = RunInProcess(options);
    EXPECT_EQ(update.code, 1);
    EXPECT_TRUE(Has(update.err,
                    each.message + "\n" + NextStepFor(SessionKind::Update, each.message) + "\n"))
        << update.err;
    StopUnit("TELVOR Q9");
  }
}

TEST_F(OwnersOverJack, AllUnitsSideBySideWithTheirSummary) {
  StartUnit("Q9 A");
  StartUnit("Q9 B");
  StartUnit("Q9 C", {"--fault", "code:erase:1-7:5"});
  const Result all =
      Kv5Update({"update", "--all", "--yes-write-test-package", "--log", logPath_}, seconds(150));
  EXPECT_EQ(all.code, 1) << all.err;
  EXPECT_TRUE(std::regex_search(
      all.out, std::regex("\n[0-9] IN \"Q9 A\" OUT \"Q9 A\" +updated +Version update completed\\. "
                          "+[0-9.]+ s\n")))
      << all.out;
  EXPECT_TRUE(std::regex_search(
      all.out, std::regex("\n[0-9] IN \"Q9 B\" OUT \"Q9 B\" +updated +Version update completed\\. "
                          "+[0-9.]+ s\n")))
      << all.out;
  EXPECT_TRUE(std::regex_search(
      all.out, std::regex("\n([0-9]) IN \"Q9 C\" OUT \"Q9 C\" +failed +Transfer error occurred\\. "
                          "+[0-9.]+ s\n")))
      << all.out;
  EXPECT_TRUE(std::regex_search(all.err, std::regex("Not updated: unit [0-9]\\.\n"))) << all.err;
  EXPECT_TRUE(Has(all.out, "[3/10] PRESET: Data transmit")) << all.out;
  // The main log lists each unit with its result and its own log, which holds its session.
  const std::string log = ReadFile(logPath_);
  std::smatch failed;
  ASSERT_TRUE(std::regex_search(
      log, failed,
      std::regex("ms  unit ([0-9]) IN \"Q9 C\" OUT \"Q9 C\": failed: Transfer error "
                 "occurred\\.; its log: (.*\\.log\\.[0-9])\n")))
      << log;
  EXPECT_EQ(failed[2].str(), logPath_ + "." + failed[1].str());
  EXPECT_TRUE(Has(ReadFile(failed[2].str()), "outcome: failed: Transfer error occurred."));
  EXPECT_TRUE(std::regex_search(
      log, std::regex("ms  unit [0-9] IN \"Q9 A\" OUT \"Q9 A\": updated: Version update "
                      "completed\\.; its log: ")))
      << log;
  EXPECT_TRUE(Has(all.err, "The log of this run is in " + logPath_)) << all.err;
  EXPECT_TRUE(Has(StopUnit("Q9 A"), "flash verification: OK"));
  EXPECT_TRUE(Has(StopUnit("Q9 B"), "flash verification: OK"));
  EXPECT_TRUE(Has(StopUnit("Q9 C"), "erase 7"));
}

TEST_F(OwnersOverJack, AllUnitsAsOneJsonDocument) {
  StartUnit("Q9 A");
  StartUnit("Q9 B", {"--fault", "code:erase:1-7:5"});
  const Result all = Kv5Update({"update", "--all", "--json", "--pair", "Q9 A,Q9 A", "--pair",
                                "Q9 B,Q9 B", "--yes-write-test-package"},
                               seconds(150));
  EXPECT_EQ(all.code, 1) << all.err;
  // One document on stdout; the units' progress goes to stderr.
  EXPECT_EQ(all.out.find('\n'), all.out.size() - 1) << all.out;
  EXPECT_TRUE(Has(all.out, "\"exit_code\":1,\"result\":\"failed\"")) << all.out;
  EXPECT_TRUE(Has(all.out,
                  "\"units\":[{\"number\":1,\"in\":\"Q9 A\",\"out\":\"Q9 A\","
                  "\"result\":\"updated\",\"message\":\"Version update completed.\","
                  "\"seconds\":"))
      << all.out;
  EXPECT_TRUE(Has(all.out,
                  "{\"number\":2,\"in\":\"Q9 B\",\"out\":\"Q9 B\",\"result\":\"failed\","
                  "\"message\":\"Transfer error occurred.\","))
      << all.out;
  EXPECT_TRUE(Has(all.err, "[3/10] PRESET: Data transmit")) << all.err;
  EXPECT_TRUE(Has(StopUnit("Q9 A"), "flash verification: OK"));
  StopUnit("Q9 B");
}

TEST_F(OwnersOverJack, CtrlCAbortsEveryUnitOfAll) {
  StartUnit("Q9 A");
  StartUnit("Q9 B");
  test::ChildProcess run(KV5UPDATE_PATH,
                         {"--backend", "jack", "update", "--all", "--pair", "Q9 A,Q9 A", "--pair",
                          "Q9 B,Q9 B", "--yes-write-test-package"},
                         test::CapturedRun());
  ASSERT_TRUE(run.WaitForOutput("[3/10] PRESET: Data transmit", seconds(60))) << run.Err();
  run.Signal(SIGINT);
  EXPECT_EQ(run.Wait(seconds(30)).value_or(-1), 130) << run.Err();
  EXPECT_TRUE(std::regex_search(run.Out(), std::regex("\n1 IN \"Q9 A\" OUT \"Q9 A\" +aborted ")))
      << run.Out();
  EXPECT_TRUE(std::regex_search(run.Out(), std::regex("\n2 IN \"Q9 B\" OUT \"Q9 B\" +aborted ")))
      << run.Out();
  // Aborted mid-transfer: neither unit got its finish.
  EXPECT_FALSE(Has(StopUnit("Q9 A"), "finish 1"));
  EXPECT_FALSE(Has(StopUnit("Q9 B"), "finish 1"));
}

}  // namespace
}  // namespace kv5
