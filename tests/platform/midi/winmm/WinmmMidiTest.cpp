// The winmm backend: how a long message is cut for the device, and what the ports see on a
// system without MIDI devices (as under Wine here).
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "midi/MidiInPort.h"
#include "midi/MidiOutPort.h"
#include "platform/midi/SystemMidi.h"
#include "platform/midi/winmm/SysexPieces.h"
#include "platform/midi/winmm/WinmmMidi.h"
#include "support/SysexMessage.h"

namespace kv5 {
namespace {

constexpr auto* Message = &test::SysexMessage;

struct Wire {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> pieces;
  MidiResult failAt = MMSYSERR_NOERROR;  // result of the piece that fails
  size_t failPiece = SIZE_MAX;
  PieceSender Sender() {
    return [this](const uint8_t* data, uint32_t length) {
      if (pieces.size() == failPiece) return failAt;
      pieces.push_back(length);
      bytes.insert(bytes.end(), data, data + length);
      return MMSYSERR_NOERROR;
    };
  }
};

const auto kNeverCancelled = [] { return false; };

TEST(SysexPieces, LongMessagesTravelUnchangedInPiecesOf2046Bytes) {
  for (size_t length : {6, 2046, 2047, 2048, 4092, 4093, 4704, 8193}) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> message = Message(length);
    Wire wire;
    ASSERT_EQ(SendInPieces(message.data(), static_cast<uint32_t>(length), 2048,
                           wire.Sender(), kNeverCancelled),
              MMSYSERR_NOERROR);
    EXPECT_EQ(wire.bytes, message);
    // At most 2048 bytes, and a multiple of 3 but for the last.
    EXPECT_EQ(wire.pieces.size(), (length + 2045) / 2046);
    for (size_t i = 0; i + 1 < wire.pieces.size(); ++i) EXPECT_EQ(wire.pieces[i], 2046u);
    EXPECT_EQ(std::accumulate(wire.pieces.begin(), wire.pieces.end(), size_t{0}), length);
  }
}

TEST(SysexPieces, AFailedPieceEndsTheSendAndACancelStopsAfterThePieceUnderWay) {
  const std::vector<uint8_t> message = Message(5000);
  Wire failing;
  failing.failPiece = 1;
  failing.failAt = MMSYSERR_NOMEM;
  EXPECT_EQ(SendInPieces(message.data(), 5000, 2048, failing.Sender(), kNeverCancelled),
            MMSYSERR_NOMEM);
  EXPECT_EQ(failing.pieces, std::vector<uint32_t>{2046});

  Wire cancelled;
  EXPECT_EQ(SendInPieces(message.data(), 5000, 2048, cancelled.Sender(),
                         [&] { return cancelled.pieces.size() == 1; }),
            MMSYSERR_NOERROR);
  EXPECT_EQ(cancelled.pieces, std::vector<uint32_t>{2046});

  Wire empty;
  EXPECT_EQ(SendInPieces(message.data(), 0, 2048, empty.Sender(), kNeverCancelled),
            MMSYSERR_INVALPARAM);
  EXPECT_TRUE(empty.pieces.empty());
}

TEST(WinmmMidi, WithoutDevicesTheListsAreEmptyAndEveryOpenFails) {
  auto midi = OpenMidiSystem(MidiSystem::WinMM);
  ASSERT_NE(midi, nullptr);
  EXPECT_EQ(midi->Name(), "winmm");
  EXPECT_EQ(OpenDefaultMidiSystem()->Name(), "winmm");
  EXPECT_EQ(midi->In().GetNumDevs(), 0u);
  EXPECT_EQ(midi->Out().GetNumDevs(), 0u);
  MidiDeviceCaps caps;
  EXPECT_NE(midi->In().GetDevCaps(0, &caps), MMSYSERR_NOERROR);
  EXPECT_NE(midi->Out().GetDevCaps(0, &caps), MMSYSERR_NOERROR);

  // The ports report the failures the dialog turns into its messages.
  MidiOutPort out(midi->Out());
  EXPECT_EQ(out.Open(0), 0);
  EXPECT_EQ(out.Open(-1), 0);  // the system's default output: none here either
  EXPECT_FALSE(out.IsOpen());
  char name[MidiOutPort::kDeviceNameCapacity];
  EXPECT_EQ(out.GetDeviceName(0, name), 0);
  EXPECT_STREQ(name, "");
  MidiInPort in(midi->In());
  in.DeviceIndex = 0;
  EXPECT_EQ(in.Open(), 0);
  EXPECT_FALSE(in.IsOpen());
  in.DeviceIndex = -1;
  EXPECT_EQ(in.Open(), 0);

  // Handles the backend never gave out are refused.
  MidiHeader header;
  EXPECT_EQ(midi->Out().LongMsg(1234, &header), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi->In().AddBuffer(1234, &header), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi->In().Close(1234), MMSYSERR_INVALHANDLE);
}

}  // namespace
}  // namespace kv5
