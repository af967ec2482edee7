// Ctrl-C and SIGTERM sent to a running kv5update process during an update against a slow
// in-process virtual unit: the session is aborted as closing the window aborts it.
#include <gtest/gtest.h>

#include "support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

namespace kv5 {
namespace {

void InterruptDuringUpdate(int signalNumber) {
  // Every write is answered 100 ms late, so the update is still writing when the signal comes.
  test::ChildProcess child(KV5UPDATE_PATH,
                           {"update", "--backend", "virtual", "--unit-fault", "delay:write:*:100"},
                           test::CapturedRun());
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(
      child.WaitForOutput("[3/10] PRESET: Data transmit  0 / 110592 \n", std::chrono::seconds(30)))
      << child.Out() << child.Err();
  child.Signal(signalNumber);
  const std::optional<int> code = child.Wait(std::chrono::seconds(20));
  ASSERT_TRUE(code) << "kv5update did not end after the signal";
  EXPECT_EQ(*code, 128 + signalNumber);
  EXPECT_NE(child.Err().find("Interrupted: the session was aborted.\n"), std::string::npos)
      << child.Err();
  EXPECT_EQ(child.Out().find("completed"), std::string::npos);
  EXPECT_EQ(child.Out().find('\r'), std::string::npos);  // a pipe gets plain lines
}

TEST(Kv5UpdateProcess, CtrlCAbortsTheUpdateAndExits130) {
  InterruptDuringUpdate(SIGINT);
}

TEST(Kv5UpdateProcess, SigtermAbortsTheUpdateAndExits143) {
  InterruptDuringUpdate(SIGTERM);
}

TEST(Kv5UpdateProcess, ExitCodesOfWholeRuns) {
  test::ChildProcess check(KV5UPDATE_PATH, {"check", "--backend", "virtual"}, test::CapturedRun());
  EXPECT_EQ(check.Wait(std::chrono::seconds(60)), 0);
  EXPECT_EQ(check.Out(),
            "component\tunit -> package\n"
            "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01\n");

  test::ChildProcess usage(KV5UPDATE_PATH, {"check", "--backend", "virtual", "--in", "4"},
                           test::CapturedRun());
  EXPECT_EQ(usage.Wait(std::chrono::seconds(60)), 2);
  EXPECT_EQ(usage.Err(),
            "No MIDI IN device has the index or the name \"4\" (1 listed; see 'kv5update "
            "list').\n");

  test::ChildProcess refused(KV5UPDATE_PATH,
                             {"update", "--backend", "virtual", "--unit-code", "4D7F0200"},
                             test::CapturedRun());
  EXPECT_EQ(refused.Wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(refused.Err().find("Illegal device connected.\n"), std::string::npos);
}

}  // namespace
}  // namespace kv5
