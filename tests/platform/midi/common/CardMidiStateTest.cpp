// The kernel's account of cards as /proc/asound shows it: the buffer of an open raw MIDI output
// subdevice (nothing for one that is closed), a card's long name, and the card port behind a port
// of the sequencer's bridge.
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

TEST(CardMidiState, ACardsLongNameAndTheCardPortBehindItsBridgedPort) {
  const char* cards =
      " 0 [fmidi          ]: MIDI Gadget - f_midi\n"
      "                      MIDI Gadget\n"
      " 1 [Q9             ]: USB-Audio - TELVOR Q9\n"
      "                      TELVOR TELVOR Q9 at usb-dummy_hcd.0-1, high speed\n";
  EXPECT_EQ(ParseCardLongName(cards, 1), "TELVOR TELVOR Q9 at usb-dummy_hcd.0-1, high speed");
  EXPECT_EQ(ParseCardLongName(cards, 2), std::nullopt);
  const char* clients =
      "Client  14 : \"Midi Through\" [Kernel]\n"
      "  Port   0 : \"Midi Through Port-0\" (RWe-)\n"
      "Client  20 : \"TELVOR Q9\" [Kernel]\n"
      "  Port   0 : \"TELVOR Q9 MIDI 1\" (RWeX)\n"
      "  Port  33 : \"TELVOR Q9 MIDI 2\" (RWeX)\n"
      "Client 128 : \"TELVOR Q9\" [User]\n"
      "  Port   0 : \"MIDI In\" (-We-)\n";
  EXPECT_EQ(ParseBridgedSeqPort(clients, 20, "TELVOR Q9 MIDI 2"), (CardPortAddress{1, 1, 1}));
  EXPECT_EQ(ParseBridgedSeqPort(clients, 20, "TELVOR Q9 MIDI 3"), std::nullopt);
  EXPECT_EQ(ParseBridgedSeqPort(clients, 14, "Midi Through Port-0"), std::nullopt);
  EXPECT_EQ(ParseBridgedSeqPort(clients, 128, "MIDI In"), std::nullopt);  // a program's
}

}  // namespace
}  // namespace kv5
