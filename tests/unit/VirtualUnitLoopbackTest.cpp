// The virtual unit as the far side of an in-process loopback device, reached through the host's
// own MIDI ports.
#include <gtest/gtest.h>

#include "platform/midi/loopback/LoopbackMidi.h"
#include "support/HostPorts.h"
#include "unit/UnitRequests.h"
#include "unit/VirtualUnit.h"

namespace kv5 {
namespace {

using namespace std::chrono_literals;
using test::Hex;

TEST(VirtualUnitLoopback, AnswersTheHostPortsAndRecordsTheirAnswers) {
  LoopbackMidi midi;
  UnitConfig config = test::ConfigWith(InitialFlash::Package);
  config.faults.Inject(MessageKind::FlashErase, Occurrence::Nth(1), FaultPlan::ForeignMessage());
  VirtualUnit unit(midi.AddDevice("TELVOR Q9"), config);
  ASSERT_TRUE(unit.Start());
  test::HostPorts host(midi);
  ASSERT_TRUE(host.Open("TELVOR Q9"));

  EXPECT_EQ(host.Ask(Hex("F0 7E 00 06 01 F7")),
            Hex("F0 7E 00 06 02 7D 4D 00 12 00 01 02 00 00 F7"));
  EXPECT_EQ(host.Ask(Hex("F0 7D 00 4D 60 30 60 1F 5C 00 00 04 00 00 00 00 F7")),
            Hex("F0 7D 00 4D 60 04 30 00 00 04 00 00 31 2E 32 30 10 60 5A 7A 06 F7"));
  EXPECT_EQ(host.Ask(test::VendorRequest(0x01)), Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_EQ(host.Ask(test::EraseRequest(0x170000, 0x1000)), FaultPlan::ForeignMessage());
  EXPECT_EQ(host.Receive(5s), Hex("F0 7D 00 4D 00 00 F7"));
  // A whole 4096-byte chunk crosses in one message.
  std::vector<uint8_t> page(4096, 0xFF);
  std::copy_n("1.20", 4, page.begin() + 0xFE0);
  EXPECT_EQ(host.Ask(test::WriteRequest(0x170000, page)), Hex("F0 7D 00 4D 00 00 F7"));
  EXPECT_EQ(unit.ReadFlash(0x170FE0, 4), test::Ascii("1.20"));

  // The unit asks; the host answers as its poller would.
  ASSERT_TRUE(unit.SendRequest(UnitRequest::Vendor(0x04)));
  EXPECT_EQ(host.Receive(5s), Hex("F0 7D 00 4D 04 F7"));
  ASSERT_TRUE(host.Send(Hex("F0 7D 00 4D 00 00 F7")));
  ASSERT_TRUE(unit.WaitForHostAnswers(1, 5s));
  EXPECT_EQ(unit.HostAnswers()[0].request, UnitRequest::Vendor(0x04));
  EXPECT_EQ(unit.HostAnswers()[0].code, 0);

  ASSERT_TRUE(unit.WaitIdle(5s));
  EXPECT_EQ(unit.Count(MessageKind::Any), 6u);
}

}  // namespace
}  // namespace kv5
