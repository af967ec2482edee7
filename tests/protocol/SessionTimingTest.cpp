// The production timing table holds the protocol's constants. The session tests all run on faster
// tables, so only this test sees a production value that drifted.
#include "protocol/SessionTiming.h"

#include <gtest/gtest.h>

namespace kv5 {
namespace {

TEST(SessionTiming, ProductionValuesAreTheProtocolsConstants) {
  // A field added to the table must be pinned here too.
  static_assert(sizeof(SessionTiming) == 8 * sizeof(uint32_t) + 2 * sizeof(int));
  const SessionTiming& t = kProductionTiming;
  EXPECT_EQ(t.IdentifyWaitMs, 30000u);
  EXPECT_EQ(t.EnterUpdateModeWaitMs, 30000u);
  EXPECT_EQ(t.EnterUpdatePauseMs, 500u);
  EXPECT_EQ(t.MemoryReadWaitMs, 60000u);
  EXPECT_EQ(t.EraseWaitMs, 60000u);
  EXPECT_EQ(t.EraseAttempts, 7);
  EXPECT_EQ(t.WriteWaitMs, 1000u);
  EXPECT_EQ(t.WriteAttempts, 32);
  EXPECT_EQ(t.ResendPauseMs, 100u);
  EXPECT_EQ(t.FinishWaitMs, 30000u);
}

}  // namespace
}  // namespace kv5
