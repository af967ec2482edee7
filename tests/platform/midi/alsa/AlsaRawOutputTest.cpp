// A card's raw MIDI output against a stand-in for the library's raw MIDI calls: a card that goes
// away while a message is written or waited for, one that stops taking bytes, a cancel while the
// last bytes leave, and the close of a card that has gone, whose kernel drain only a signal ends.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/midi/alsa/AlsaRawOutput.h"
#include "support/SysexMessage.h"

namespace kv5 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The stand-in card: a kernel buffer that the driver empties as the scenario says, readiness on an
// eventfd that the scenario raises, and a cable that can be pulled.
namespace fake_raw {

constexpr size_t kBuffer = 8192;

enum class Driver {
  TakesAll,           // every byte leaves at once
  GoneAtSecondWrite,  // takes half the first write; every write after says the card is gone,
                      // before its descriptor does
  Keeps,              // takes nothing more after the first write
  KeepsLastByte,      // takes all but one byte, then nothing
};

Driver driver = Driver::TakesAll;
std::atomic<bool> gone{false};
std::atomic<size_t> held{0};
std::atomic<int> writes{0};
std::atomic<int> drops{0};
std::atomic<bool> closeWasInterrupted{false};
int readyFd = -1;

void SetReady(bool ready) {
  uint64_t value = 1;
  if (ready) {
    [[maybe_unused]] ssize_t n = write(readyFd, &value, sizeof value);
  } else {
    [[maybe_unused]] ssize_t n = read(readyFd, &value, sizeof value);
  }
}

// Pulls the cable: the card is gone and its descriptor says so.
void Pull() {
  gone = true;
  SetReady(true);
}

int Open(snd_rawmidi_t** raw, const char*) {
  *raw = reinterpret_cast<snd_rawmidi_t*>(&held);
  SetReady(true);
  return 0;
}
int Configure(snd_rawmidi_t*, size_t) {
  return 0;
}
ssize_t Write(snd_rawmidi_t*, const void*, size_t count) {
  // A backend that kept writing to a gone card would call again and again: after a few calls the
  // stand-in stops answering, so such a send stalls instead of spinning.
  if (++writes > 8) {
    SetReady(false);
    return -EAGAIN;
  }
  if (gone) return -ENODEV;
  switch (driver) {
    case Driver::TakesAll:
      return static_cast<ssize_t>(count);
    case Driver::GoneAtSecondWrite:
      return writes == 1 ? static_cast<ssize_t>(count / 2) : -ENODEV;
    case Driver::Keeps:
      held = count;
      SetReady(false);
      return static_cast<ssize_t>(count);
    case Driver::KeepsLastByte:
      held = 1;
      return static_cast<ssize_t>(count);
  }
  return -EIO;
}
long FreeBytes(snd_rawmidi_t*) {
  return gone ? -ENODEV : static_cast<long>(kBuffer - held);
}
int PollDescriptors(snd_rawmidi_t*, pollfd* fds, unsigned int) {
  fds[0] = {readyFd, POLLIN, 0};
  return 1;
}
int PollRevents(snd_rawmidi_t*, pollfd* fds, unsigned int, unsigned short* revents) {
  *revents = (fds[0].revents & POLLIN) ? (gone ? POLLERR : POLLOUT) : 0;
  return 0;
}
int Drop(snd_rawmidi_t*) {
  ++drops;
  if (gone) return -ENODEV;
  held = 0;
  return 0;
}
// The kernel's close of a card that has gone waits ten seconds for the buffer to empty, unless a
// signal comes.
int Close(snd_rawmidi_t*) {
  if (!gone) return 0;
  closeWasInterrupted = poll(nullptr, 0, 10000) < 0 && errno == EINTR;
  return 0;
}

RawMidiCalls Calls(Driver how) {
  driver = how;
  gone = false;
  held = 0;
  writes = drops = 0;
  closeWasInterrupted = false;
  if (readyFd < 0) readyFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  SetReady(false);
  RawMidiCalls calls;
  calls.open = &Open;
  calls.configure = &Configure;
  calls.write = &Write;
  calls.freeBytes = &FreeBytes;
  calls.pollDescriptors = &PollDescriptors;
  calls.pollRevents = &PollRevents;
  calls.drop = &Drop;
  calls.close = &Close;
  return calls;
}

}  // namespace fake_raw

class AlsaRawOutput : public ::testing::Test {
 protected:
  // A stall limit far above what any of these sends may take, unless a test shortens it.
  std::unique_ptr<RawMidiOutput> Open(fake_raw::Driver driver, int stallLimitMs = 5000) {
    AlsaConfig config;
    config.stallLimitMs = stallLimitMs;
    MidiResult result = MMSYSERR_ERROR;
    auto output = RawMidiOutput::Open({1, 0, 0}, config, &result, fake_raw::Calls(driver));
    EXPECT_EQ(result, MMSYSERR_NOERROR);
    return output;
  }

  // Sends the message and tells how it ended and how long it took.
  OutputLink::Outcome Send(RawMidiOutput& output, milliseconds* took) {
    const auto start = Clock::now();
    const auto outcome =
        output.Send(message.data(), message.size(), [this] { return cancel.load(); });
    *took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    return outcome;
  }

  std::vector<uint8_t> message = test::SysexMessage(4700);
  std::atomic<bool> cancel{false};
  milliseconds took{0};
};

TEST_F(AlsaRawOutput, ACardThatIsGoneInTheMiddleOfAWriteEndsTheSendAndIsNotAskedAgain) {
  auto output = Open(fake_raw::Driver::GoneAtSecondWrite);
  EXPECT_EQ(Send(*output, &took), OutputLink::Outcome::Gone);
  EXPECT_EQ(fake_raw::writes, 2);
  EXPECT_LT(took, milliseconds(1000));
}

TEST_F(AlsaRawOutput, ACardThatIsGoneWhileTheSendWaitsForRoomEndsItAtOnce) {
  auto output = Open(fake_raw::Driver::Keeps);
  std::thread cable([] {
    std::this_thread::sleep_for(milliseconds(50));
    fake_raw::Pull();
  });
  EXPECT_EQ(Send(*output, &took), OutputLink::Outcome::Gone);
  cable.join();
  EXPECT_LT(took, milliseconds(1000));
}

TEST_F(AlsaRawOutput, ACardThatStopsTakingBytesFailsTheSendAtTheStallLimit) {
  auto output = Open(fake_raw::Driver::Keeps, /*stallLimitMs=*/100);
  EXPECT_EQ(Send(*output, &took), OutputLink::Outcome::Failed);
  EXPECT_GE(took, milliseconds(100));
  EXPECT_LT(took, milliseconds(2000));
  // What the card kept is dropped, not sent later as part of the next message.
  EXPECT_EQ(fake_raw::drops, 1);
  EXPECT_EQ(fake_raw::held, 0u);
}

TEST_F(AlsaRawOutput, AnInterruptWhileTheLastBytesLeaveCancelsTheSendAtOnce) {
  auto output = Open(fake_raw::Driver::KeepsLastByte);
  std::thread reset([&] {
    std::this_thread::sleep_for(milliseconds(50));
    cancel = true;
    output->Interrupt();
  });
  EXPECT_EQ(Send(*output, &took), OutputLink::Outcome::Cancelled);
  reset.join();
  EXPECT_LT(took, milliseconds(1000));
  EXPECT_EQ(fake_raw::held, 0u);
}

TEST_F(AlsaRawOutput, ClosingACardThatIsGoneDoesNotWaitOutTheKernelsDrain) {
  auto output = Open(fake_raw::Driver::Keeps);
  std::thread cable([] {
    std::this_thread::sleep_for(milliseconds(20));
    fake_raw::Pull();
  });
  EXPECT_EQ(Send(*output, &took), OutputLink::Outcome::Gone);
  cable.join();
  const auto start = Clock::now();
  output.reset();
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  EXPECT_TRUE(fake_raw::closeWasInterrupted);
}

}  // namespace
}  // namespace kv5
