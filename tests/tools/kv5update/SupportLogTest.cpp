// The support log of --log: a header that says when, where and with what the run began; the
// steps with their components and the unit's answers in words; a time column that multi-line
// notes leave intact; an earlier run's log kept; and, after a failure, where the log is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/Kv5UpdateRun.h"

namespace kv5 {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SupportLog : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }
  std::string Read() const {
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  const std::string path_ = std::filesystem::absolute(::testing::TempDir()).string() +
                            "/kv5update-support-" + std::to_string(getpid()) + ".log";
};

TEST_F(SupportLog, HeaderSaysWhenWhereAndWithWhatAndAFailureSaysWhereTheLogIs) {
  const RunResult run = RunArgs({"check", "--backend", "virtual", "--unit-fault", "code:read:1:5",
                                 "--log", path_, "--unit-code", "4D001200"});
  EXPECT_EQ(run.code, kExitSessionFailed);
  EXPECT_TRUE(Has(run.err, "\nThe log of this run is in " + path_ + ".\n")) << run.err;
  const std::string log = Read();
  EXPECT_TRUE(std::regex_search(
      log, std::regex("^ +0 ms  started [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                      "[+-][0-9]{2}:[0-9]{2}\n +0 ms  kv5update 1\\.20")))
      << log;
  EXPECT_TRUE(std::regex_search(log, std::regex("ms  operating system: [A-Za-z]+ [^\n]+\n")));
  EXPECT_TRUE(Has(log,
                  "ms  command line: kv5update check --backend virtual --unit-fault "
                  "code:read:1:5 --log " +
                      path_ + " --unit-code 4D001200\n"))
      << log;
  EXPECT_TRUE(Has(log, "ms  MIDI system: loopback\n")) << log;
  EXPECT_TRUE(Has(log, "ms  virtual unit fault: code:read:1:5\n")) << log;
  EXPECT_TRUE(Has(log, "ms  MIDI IN 0 \"TELVOR Q9\"\n")) << log;
}

TEST_F(SupportLog, StepsNameTheirComponentAndTheUnitsAnswersAreInWords) {
  RunResult run = RunArgs({"update", "--backend", "virtual", "--log", path_});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  std::string log = Read();
  EXPECT_TRUE(Has(log, "ms  step 1/10: erase SYSTEM info block (0x170000, 0x001000 bytes)\n"));
  EXPECT_TRUE(Has(log, "ms  step 3/10: write PRESET (110592 bytes at 0x04B000)\n")) << log;
  // The unit's BOOT is the package's: its steps send nothing.
  EXPECT_TRUE(Has(log, "ms  step 4/10: BOOT unchanged, skipped\n")) << log;
  EXPECT_TRUE(Has(log, "ms  step 5/10: BOOT unchanged, skipped\n")) << log;
  std::filesystem::remove(path_);

  run = RunArgs({"update", "--backend", "virtual", "--log", path_, "--unit-mode", "normal"});
  EXPECT_EQ(run.code, kExitSessionFailed);
  log = Read();
  EXPECT_TRUE(Has(log, "ms  <- result code 11 (not in its firmware update mode)  [")) << log;
}

TEST_F(SupportLog, NotesOfSeveralLinesKeepTheTimeColumn) {
  const RunResult run = RunArgs({"check", "--backend", "virtual", "--log", path_});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  const std::string log = Read();
  EXPECT_TRUE(Has(log, "ms  version check:\n" + std::string(13, ' ') +
                           "component\tunit -> package\n" + std::string(13, ' ') +
                           "SYSTEM:\t\t1.10 -> 1.20\n"))
      << log;
  // Every line holds a time or is indented under one.
  EXPECT_FALSE(std::regex_search(log, std::regex("\n(?! *[0-9]+ ms  | {13}[^ ])[^\n]"))) << log;
}

TEST_F(SupportLog, AnEarlierRunsLogIsKeptAndTheNewRunFollowsASeparator) {
  std::ofstream(path_) << "       0 ms  the earlier run\n";
  const RunResult run = RunArgs({"list", "--backend", "virtual", "--log", path_});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(
      Read().rfind(
          "       0 ms  the earlier run\n\n" + std::string(72, '-') + "\n       0 ms  started ", 0),
      0u)
      << Read();
}

TEST_F(SupportLog, VerboseShowsTheLogOnStderr) {
  const RunResult run = RunArgs({"list", "--backend", "virtual", "-v"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_TRUE(Has(run.err, " ms  MIDI system: loopback\n")) << run.err;
  EXPECT_TRUE(Has(run.err, " ms  outcome: listed")) << run.err;
  EXPECT_EQ(run.out, "MIDI IN devices:\n* 0  TELVOR Q9\nMIDI OUT devices:\n* 0  TELVOR Q9\n");
}

}  // namespace
}  // namespace kv5
