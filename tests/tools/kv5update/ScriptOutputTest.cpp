// What a script reads of kv5update: one JSON document on stdout with --json (progress and
// messages on stderr), check's exit status with --exit-code, and nothing but results and errors
// with -q.
#include <gtest/gtest.h>

#include <string>

#include "tools/kv5update/ExitCodes.h"
#include "tools/kv5update/Kv5UpdateRun.h"

namespace kv5 {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One document on one line: stdout holds nothing else.
void ExpectOneDocument(const std::string& out) {
  ASSERT_GE(out.size(), 3u) << out;
  EXPECT_EQ(out.front(), '{') << out;
  EXPECT_EQ(out.substr(out.size() - 2), "}\n") << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
}

TEST(ScriptOutput, ListProbeAndCheckAsJson) {
  RunResult run = RunArgs({"list", "--backend", "virtual", "--json"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  ExpectOneDocument(run.out);
  EXPECT_TRUE(Has(run.out,
                  "\"command\":\"list\",\"midi_system\":\"loopback\",\"exit_code\":0,"
                  "\"result\":\"listed\""))
      << run.out;
  EXPECT_TRUE(Has(run.out,
                  "\"in_devices\":[{\"index\":0,\"name\":\"TELVOR Q9\","
                  "\"preselected\":true}],\"out_devices\":[{"))
      << run.out;

  run = RunArgs({"probe", "--backend", "virtual", "--json"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  ExpectOneDocument(run.out);
  EXPECT_TRUE(Has(run.out,
                  "\"probe\":{\"answers\":[{\"device_code\":\"4D 00 12 00\","
                  "\"fits_package\":true,\"in\":{\"index\":0,\"name\":\"TELVOR Q9\"},"))
      << run.out;

  run = RunArgs({"check", "--backend", "virtual", "--json"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  ExpectOneDocument(run.out);
  EXPECT_TRUE(Has(run.out,
                  "\"components\":[{\"name\":\"SYSTEM\",\"unit\":\"1.10\","
                  "\"package\":\"1.20\",\"differs\":true},{\"name\":\"PRESET\","
                  "\"unit\":\"1.00\",\"package\":\"1.00\",\"differs\":false},"))
      << run.out;
  EXPECT_TRUE(Has(run.out, "\"update_available\":true}")) << run.out;
}

TEST(ScriptOutput, UpdateAsJsonKeepsProgressAndMessagesOnStderr) {
  RunResult run = RunArgs({"update", "--backend", "virtual", "--json"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  ExpectOneDocument(run.out);
  EXPECT_TRUE(Has(run.out,
                  "\"exit_code\":0,\"result\":\"completed\","
                  "\"message\":\"Version update completed.\",\"what_to_do\":null"))
      << run.out;
  EXPECT_TRUE(Has(run.err, "[3/10] PRESET: Data transmit")) << run.err;

  // A failure: its message and the line on what to do are in the document, and on stderr.
  run = RunArgs({"update", "--backend", "virtual", "--json", "--unit-fault", "code:enter:1:1"});
  EXPECT_EQ(run.code, kExitSessionFailed);
  ExpectOneDocument(run.out);
  EXPECT_TRUE(Has(run.out,
                  "\"exit_code\":1,\"result\":\"failed\","
                  "\"message\":\"Transfer error occurred.\",\"what_to_do\":\"What to do: "))
      << run.out;
  EXPECT_TRUE(Has(run.err, "Transfer error occurred.\nWhat to do: ")) << run.err;
}

TEST(ScriptOutput, CheckSaysUpdateAvailableOnlyWhenAskedTo) {
  RunResult run = RunArgs({"check", "--backend", "virtual"});
  EXPECT_EQ(run.code, kExitOk);
  run = RunArgs({"check", "--backend", "virtual", "--exit-code"});
  EXPECT_EQ(run.code, kExitUpdateAvailable) << run.err;
  EXPECT_EQ(run.err, "");
  run = RunArgs({"check", "--backend", "virtual", "--exit-code", "--unit-firmware", "package"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  // A failed read is a failure, not an update to offer.
  run = RunArgs({"check", "--backend", "virtual", "--exit-code", "--unit-fault", "code:read:1:5"});
  EXPECT_EQ(run.code, kExitSessionFailed);
}

TEST(ScriptOutput, QuietPrintsResultsAndErrorsOnly) {
  RunResult run = RunArgs({"update", "--backend", "virtual", "-q"});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(run.out, "Version update completed.\n");
  EXPECT_EQ(run.err, "");  // no progress, no warning on the test package
  run = RunArgs({"update", "--backend", "virtual", "--quiet", "--unit-fault", "code:enter:1:1"});
  EXPECT_EQ(run.code, kExitSessionFailed);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(Has(run.err, "Transfer error occurred.\nWhat to do: ")) << run.err;
}

}  // namespace
}  // namespace kv5
