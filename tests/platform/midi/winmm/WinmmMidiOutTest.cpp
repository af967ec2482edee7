// The winmm output backend against a stand-in for winmm: a device that says it is gone, and one
// whose cable is pulled while it holds a piece of a message.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "platform/midi/MidiServices.h"
#include "platform/midi/winmm/WinmmOutCalls.h"
#include "support/SysexMessage.h"

namespace kv5 {
namespace {

constexpr auto* Message = &test::SysexMessage;

// A stand-in for winmm's output with one device, which delivers, reports itself gone, or keeps a
// buffer and then goes away as a pulled cable does (an unasked MOM_CLOSE from the driver's thread).
namespace fake_out {

enum class Mode { Deliver, Removed, KeepThenGone };

Mode mode = Mode::Deliver;
DWORD_PTR callback = 0;
DWORD_PTR instance = 0;
std::vector<uint8_t> delivered;
int longMsgs = 0;
int unpreparedWhileQueued = 0;  // a buffer taken from the device while it still held it
// The counts are the calling thread's; the driver's own thread only sends the MOM_CLOSE.
std::thread remover;

void Notify(UINT message, DWORD_PTR param) {
  reinterpret_cast<void(CALLBACK*)(HMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR)>(callback)(
      reinterpret_cast<HMIDIOUT>(1), message, instance, param, 0);
}

MMRESULT WINAPI Open(LPHMIDIOUT handle, UINT, DWORD_PTR cb, DWORD_PTR inst, DWORD) {
  callback = cb;
  instance = inst;
  *handle = reinterpret_cast<HMIDIOUT>(1);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Close(HMIDIOUT) {
  if (remover.joinable()) remover.join();
  Notify(MOM_CLOSE, 0);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Prepare(HMIDIOUT, LPMIDIHDR header, UINT) {
  header->dwFlags |= MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Unprepare(HMIDIOUT, LPMIDIHDR header, UINT) {
  if (header->dwFlags & MHDR_INQUEUE) {
    ++unpreparedWhileQueued;
    return MIDIERR_STILLPLAYING;
  }
  header->dwFlags &= ~MHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI LongMsg(HMIDIOUT, LPMIDIHDR header, UINT) {
  ++longMsgs;
  switch (mode) {
    case Mode::Deliver:
      delivered.insert(delivered.end(), header->lpData, header->lpData + header->dwBufferLength);
      header->dwFlags |= MHDR_DONE;
      Notify(MOM_DONE, reinterpret_cast<DWORD_PTR>(header));
      return MMSYSERR_NOERROR;
    case Mode::Removed:
      return MMSYSERR_NODRIVER;
    case Mode::KeepThenGone:
      header->dwFlags |= MHDR_INQUEUE;
      remover = std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Notify(MOM_CLOSE, 0);
      });
      return MMSYSERR_NOERROR;
  }
  return MMSYSERR_ERROR;
}
// A device that is gone gives nothing back.
MMRESULT WINAPI Reset(HMIDIOUT) {
  return MMSYSERR_NOERROR;
}

WinmmOutCalls Calls() {
  mode = Mode::Deliver;
  delivered.clear();
  longMsgs = unpreparedWhileQueued = 0;
  // The device list is winmm's own; the tests open their handle directly.
  WinmmOutCalls calls;
  calls.open = &Open;
  calls.close = &Close;
  calls.prepareHeader = &Prepare;
  calls.unprepareHeader = &Unprepare;
  calls.longMsg = &LongMsg;
  calls.reset = &Reset;
  return calls;
}

}  // namespace fake_out

// The backend over the stand-in, its device open and a 4700-byte message prepared.
class WinmmMidiOut : public ::testing::Test {
 protected:
  void SetUp() override {
    message.lpData = bytes.data();
    message.dwBufferLength = static_cast<uint32_t>(bytes.size());
    ASSERT_EQ(out->Open(&handle, 0), MidiResult{MMSYSERR_NOERROR});
    ASSERT_EQ(out->PrepareHeader(handle, &message), MidiResult{MMSYSERR_NOERROR});
  }

  std::unique_ptr<MidiOutServices> out = MakeWinmmMidiOut(fake_out::Calls(), WinmmConfig{});
  MidiOutHandle handle = 0;
  std::vector<uint8_t> bytes = Message(4700);
  MidiHeader message;
};

TEST_F(WinmmMidiOut, ADeviceThatSaysItIsGoneFailsThisSendAndEveryOneAfter) {
  ASSERT_EQ(out->LongMsg(handle, &message), MidiResult{MMSYSERR_NOERROR});
  EXPECT_EQ(fake_out::delivered, bytes);

  fake_out::mode = fake_out::Mode::Removed;
  EXPECT_EQ(out->LongMsg(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(out->LongMsg(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(fake_out::longMsgs, 2);  // the device is not asked again
  // The port learns that its last send did not reach a device that is there.
  EXPECT_EQ(out->UnprepareHeader(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(out->PrepareHeader(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(out->Close(handle), MidiResult{MMSYSERR_NOERROR});
}

TEST_F(WinmmMidiOut, ACablePulledWhileTheDeviceHoldsAPieceEndsTheSendAndLeavesThePieceToIt) {
  fake_out::mode = fake_out::Mode::KeepThenGone;
  // The driver's MOM_CLOSE ends the wait for the piece (without it, after the ten-second limit).
  EXPECT_EQ(out->LongMsg(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(message.dwFlags.load() & MHDR_INQUEUE, 0u);
  EXPECT_EQ(out->UnprepareHeader(handle, &message), MidiResult{MMSYSERR_NODRIVER});
  EXPECT_EQ(out->Close(handle), MidiResult{MMSYSERR_NOERROR});
  // The piece the device kept was never unprepared under it.
  EXPECT_EQ(fake_out::unpreparedWhileQueued, 0);
  EXPECT_EQ(fake_out::longMsgs, 1);
}

}  // namespace
}  // namespace kv5
