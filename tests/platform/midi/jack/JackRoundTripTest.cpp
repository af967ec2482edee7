// SysEx through a real JACK server: the updater's ports on the JACK backend in this process, the
// echo program in another, one connection each way.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "JackTestRig.h"

namespace kv5::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReplyLimit = std::chrono::seconds(5);

double Milliseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::milli>(elapsed).count();
}

class JackRoundTripTest : public JackRig {};

TEST_F(JackRoundTripTest, MessagesOfEverySizeComeBackByteExact) {
  StartEcho("TELVOR Q9");
  auto backend = OpenHost();
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  // 40000 bytes exceed what one cycle's MIDI buffer holds, so they travel in pieces.
  for (size_t size : {6u, 22u, 4700u, 20000u, 40000u}) {
    SCOPED_TRACE(size);
    auto message = MakeSysex(size, static_cast<uint32_t>(size));
    const auto sent = message;
    const auto start = Clock::now();
    ASSERT_TRUE(link.Send(message));
    const auto reply = link.Receive(kReplyLimit);
    const double ms = Milliseconds(Clock::now() - start);
    ASSERT_EQ(reply.size(), sent.size());
    EXPECT_TRUE(reply == sent);
    std::printf("round trip of %zu bytes: %.2f ms\n", size, ms);
  }
  EXPECT_EQ(link.In().PeekSysex(), nullptr) << "nothing but the replies arrived";
}

TEST_F(JackRoundTripTest, MessagesTooLongForACycleTravelInPiecesBothWays) {
  // Both sides write at most a few hundred bytes per cycle, so every message below but the first
  // crosses in pieces over consecutive cycles and is put together again on input.
  StartEcho("TELVOR Q9", 700);
  auto backend = OpenHost(1000);
  ASSERT_NE(backend, nullptr);

  // A message still being written belongs to the device: it cannot be unprepared until Reset
  // gives it back, done, with the rest unsent. The echo never sees its end, so sends nothing.
  {
    MidiOutServices& services = backend->Out();
    MidiOutHandle out = 0;
    const int echoIn = IndexOf(DeviceNames(services), "TELVOR Q9");
    ASSERT_EQ(services.Open(&out, static_cast<uint32_t>(echoIn)), MMSYSERR_NOERROR);
    auto message = MakeSysex(20000, 9);
    MidiHeader header;
    header.lpData = message.data();
    header.dwBufferLength = static_cast<uint32_t>(message.size());
    ASSERT_EQ(services.PrepareHeader(out, &header), MMSYSERR_NOERROR);
    ASSERT_EQ(services.LongMsg(out, &header), MMSYSERR_NOERROR);
    EXPECT_EQ(services.UnprepareHeader(out, &header), MIDIERR_STILLPLAYING);
    EXPECT_EQ(services.Reset(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(header.dwFlags & MHDR_DONE);
    EXPECT_EQ(services.UnprepareHeader(out, &header), MMSYSERR_NOERROR);
    EXPECT_EQ(services.Close(out), MMSYSERR_NOERROR);
  }

  HostPorts link(*backend);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  for (size_t size : {22u, 4700u, 20000u}) {
    SCOPED_TRACE(size);
    auto message = MakeSysex(size, 7);
    const auto sent = message;
    ASSERT_TRUE(link.Send(message));
    // Done means every piece is in a cycle: the buffer is the caller's again at once.
    std::fill(message.begin(), message.end(), 0x00);
    const auto reply = link.Receive(kReplyLimit);
    ASSERT_EQ(reply.size(), sent.size());
    EXPECT_TRUE(reply == sent);
  }
}

TEST_F(JackRoundTripTest, ThreeHundredRoundTripsArriveInOrder) {
  StartEcho("TELVOR Q9");
  auto backend = OpenHost();
  ASSERT_NE(backend, nullptr);
  HostPorts link(*backend);
  ASSERT_TRUE(link.Open("TELVOR Q9"));

  std::vector<double> times;
  for (uint32_t n = 0; n < 300; ++n) {
    auto message = MakeSysex(4700, n);
    const auto sent = message;
    const auto start = Clock::now();
    ASSERT_TRUE(link.Send(message)) << n;
    const auto reply = link.Receive(kReplyLimit);
    times.push_back(Milliseconds(Clock::now() - start));
    ASSERT_TRUE(reply == sent) << "round trip " << n;
  }
  std::sort(times.begin(), times.end());
  double total = 0;
  for (double t : times) total += t;
  std::printf("300 round trips of 4700 bytes: mean %.2f ms, median %.2f ms, max %.2f ms\n",
              total / times.size(), times[times.size() / 2], times.back());

  // Sent without waiting for the replies: the entries come in the order the messages went out.
  std::vector<std::vector<uint8_t>> sent;
  for (uint32_t n = 0; n < 20; ++n) {
    sent.push_back(MakeSysex(n % 2 ? 4700 : 22, 1000 + n));
    auto copy = sent.back();
    ASSERT_TRUE(link.Send(copy));
  }
  for (uint32_t n = 0; n < 20; ++n) EXPECT_TRUE(link.Receive(kReplyLimit) == sent[n]) << n;
}

TEST_F(JackRoundTripTest, MessagesArrivingBackToBackAreAllCaptured) {
  // The sender is a second backend in this process, so several messages leave in one cycle:
  // queued without waiting, they reach the receiving port as events of the same cycle.
  // The messages outlive the backends: however the test ends (an assertion returns early), the
  // sender's device closes and gives back what it still holds queued before they are freed.
  std::vector<std::vector<uint8_t>> messages{MakeSysex(15, 1), MakeSysex(4700, 2), MakeSysex(6, 3)};
  std::vector<MidiHeader> headers(messages.size());
  StartEcho("TELVOR Q9");
  auto receiver = OpenHost(0, "receiver");
  auto sender = OpenHost(0, "sender");
  ASSERT_NE(receiver, nullptr);
  ASSERT_NE(sender, nullptr);

  MidiOutHandle out = 0;
  const int echoIn = IndexOf(DeviceNames(sender->Out()), "TELVOR Q9");
  ASSERT_GE(echoIn, 0);
  ASSERT_EQ(sender->Out().Open(&out, static_cast<uint32_t>(echoIn)), MMSYSERR_NOERROR);
  MidiInPort in(receiver->In());
  in.DeviceIndex = IndexOf(DeviceNames(receiver->In()), "sender");
  ASSERT_GE(in.DeviceIndex, 0);
  ASSERT_EQ(in.Open(), 1);

  for (size_t i = 0; i < messages.size(); ++i) {
    headers[i].lpData = messages[i].data();
    headers[i].dwBufferLength = static_cast<uint32_t>(messages[i].size());
    ASSERT_EQ(sender->Out().PrepareHeader(out, &headers[i]), MMSYSERR_NOERROR);
    ASSERT_EQ(sender->Out().LongMsg(out, &headers[i]), MMSYSERR_NOERROR);
  }
  for (auto& header : headers) {
    const auto deadline = Clock::now() + kReplyLimit;
    while (!(header.dwFlags & MHDR_DONE) && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(sender->Out().UnprepareHeader(out, &header), MMSYSERR_NOERROR);
  }

  for (const auto& message : messages) {
    const auto deadline = Clock::now() + kReplyLimit;
    while (in.PeekSysex() == nullptr && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const SysexEntry* entry = in.PeekSysex();
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(std::vector<uint8_t>(entry->bytes.get(), entry->bytes.get() + entry->length) ==
                message);
    in.PopSysex();
  }
  EXPECT_EQ(in.PeekSysex(), nullptr);
  in.Close();
  EXPECT_EQ(sender->Out().Close(out), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace kv5::test
