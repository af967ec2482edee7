// The kernel's account of a card's raw MIDI output, as its /proc file shows it: the buffer of an
// open output subdevice, and nothing for one that is closed.
#include <gtest/gtest.h>

#include "platform/midi/common/CardMidiState.h"

namespace kv5 {
namespace {

// Two output subdevices, the second opened by the sequencer's bridge, and an input.
constexpr const char* kCardFile =
    "TELVOR Q9\n"
    "\n"
    "Output 0\n"
    "  Tx bytes     : 1376844\n"
    "Output 1\n"
    "  Tx bytes     : 9400\n"
    "  Owner PID    : 144\n"
    "  Mode         : native\n"
    "  Buffer size  : 4096\n"
    "  Avail        : 3812\n"
    "Input 0\n"
    "  Rx bytes     : 6124\n"
    "  Owner PID    : 144\n"
    "  Buffer size  : 4096\n"
    "  Avail        : 0\n";

TEST(CardMidiState, AnOpenOutputShowsItsBufferAndAClosedOneNothing) {
  const auto open = ParseRawOutputState(kCardFile, 1);
  ASSERT_TRUE(open.has_value());
  EXPECT_EQ(open->bufferBytes, 4096u);
  EXPECT_EQ(open->freeBytes, 3812u);
  EXPECT_EQ(open->sentBytes, 9400u);
  EXPECT_FALSE(ParseRawOutputState(kCardFile, 0).has_value());
  EXPECT_FALSE(ParseRawOutputState(kCardFile, 2).has_value());
  EXPECT_FALSE(ReadRawOutputState(0, 0, 0, "/nonexistent").has_value());
}

}  // namespace
}  // namespace kv5
