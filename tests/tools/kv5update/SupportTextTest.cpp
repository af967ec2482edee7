// The words kv5update puts around a session: the support log's reading of each message, the
// line that says what to do after a failure, and the summary of update --all.
#include <gtest/gtest.h>

#include "protocol/ProtocolMessages.h"
#include "protocol/SysexEncoding.h"
#include "session/StringTable.h"
#include "tools/kv5update/Json.h"
#include "tools/kv5update/LogHeader.h"
#include "tools/kv5update/MessageText.h"
#include "tools/kv5update/NextSteps.h"
#include "tools/kv5update/UnitsSideBySide.h"

namespace kv5 {
namespace {

std::string Sent(const std::vector<uint8_t>& m) {
  return DescribeMessage(m.data(), static_cast<uint32_t>(m.size()), Direction::Sent);
}
std::string Received(const std::vector<uint8_t>& m) {
  return DescribeMessage(m.data(), static_cast<uint32_t>(m.size()), Direction::Received);
}

TEST(MessageText, EveryRequestAndAnswerInWords) {
  std::vector<uint8_t> m(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(IdentityRequest(m.data())));
  EXPECT_EQ(Sent(m), "identity request");
  EXPECT_EQ(RequestKind(m.data(), static_cast<uint32_t>(m.size())), "identity");
  EXPECT_EQ(HexBytes(m.data(), static_cast<uint32_t>(m.size())), "F0 7E 00 06 01 F7");

  m.resize(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(FlashErase(m.data(), 0x4D, 0x170000, 0x1000)));
  EXPECT_EQ(Sent(m), "erase 0x170000 size 0x001000");
  EXPECT_EQ(RequestAddress(m.data(), static_cast<uint32_t>(m.size())), 0x170000u);

  std::vector<uint8_t> chunk(4096, 0x5A);
  m.resize(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(FlashWrite(m.data(), 0x4D, 0x04B000, chunk.data(), 4096)));
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08X", SysexCrc32(chunk.data(), 4096));
  EXPECT_EQ(Sent(m), std::string("write 0x04B000 len 4096 CRC 0x") + crc);
  // A write's bytes: the head, the length, and the checksum and F7 at its end.
  const std::string hex = HexBytes(m.data(), static_cast<uint32_t>(m.size()));
  EXPECT_EQ(hex.rfind("F0 7D 00 4D 02", 0), 0u) << hex;
  EXPECT_NE(hex.find(" ... (4700 bytes) ... "), std::string::npos) << hex;
  EXPECT_EQ(hex.substr(hex.size() - 2), "F7");

  m.resize(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(MemoryReadRequest(m.data(), 0x4D, 0x4AFFC, 4)));
  EXPECT_EQ(Sent(m), "read 0x04AFFC len 4");
  m.resize(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(EnterUpdateMode(m.data(), 0x4D)));
  EXPECT_EQ(Sent(m), "enter update mode");
  m.resize(kMaxOutgoingMessage);
  m.resize(static_cast<size_t>(FinishUpdate(m.data(), 0x4D)));
  EXPECT_EQ(Sent(m), "finish");

  EXPECT_EQ(Received({0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x00, 0xF7}), "result code 0 (accepted)");
  EXPECT_EQ(Received({0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x05, 0xF7}), "result code 5 (error)");
  EXPECT_EQ(Received({0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x0B, 0xF7}),
            "result code 11 (not in its firmware update mode)");
  // The virtual unit's own codes are read only when it is the unit on the other end.
  const std::vector<uint8_t> checksum = {0xF0, 0x7D, 0x00, 0x4D, 0x00, 0x12, 0xF7};
  EXPECT_EQ(Received(checksum), "result code 18 (error)");
  EXPECT_EQ(DescribeMessage(checksum.data(), 7, Direction::Received, true),
            "result code 18 (error: checksum mismatch)");
  EXPECT_EQ(Received({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x7D, 0x4D, 0x00, 0x12, 0x00, 0x01, 0x02, 0x00,
                      0x00, 0xF7}),
            "identity reply, device code 4D 00 12 00");
  // The 22-byte read reply that carries "1.20".
  const uint8_t stamp[4] = {'1', '.', '2', '0'};
  std::vector<uint8_t> reply = {0xF0, 0x7D, 0x00, 0x4D, 0x60, 0x04, 0x30, 0x00, 0x00};
  reply.resize(22);
  EncodeSeptet14(4, reply.data() + 9);
  Pack7in8(reply.data() + 11, stamp, 4);
  EncodeSeptet32(SysexCrc32(stamp, 4), reply.data() + 16);
  reply[21] = 0xF7;
  EXPECT_EQ(Received(reply), "read reply 4 bytes \"1.20\"");
  reply[16] ^= 0x01;
  EXPECT_EQ(Received(reply), "read reply 4 bytes \"1.20\" (checksum mismatch)");
}

TEST(Json, StringsAreEscapedAndMembersKeepTheirOrder) {
  EXPECT_EQ(json::String("Q9 \"A\"\\\n\x01"), "\"Q9 \\\"A\\\"\\\\\\n\\u0001\"");
  EXPECT_EQ(json::Object()
                .Add("b", json::Number(int64_t{2}))
                .Add("a", json::Array({json::Bool(true), json::Null()}))
                .Text(),
            "{\"b\":2,\"a\":[true,null]}");
}

TEST(LogHeader, TheCommandLineReadsAsItWasTyped) {
  EXPECT_EQ(QuotedCommandLine({"C:\\Q9\\kv5update.exe", "update", "--in", "Q9 A", "--log", "",
                               "--pair", "say \"$1\""}),
            "C:\\Q9\\kv5update.exe update --in \"Q9 A\" --log \"\" --pair \"say \\\"\\$1\\\"\"");
}

TEST(NextSteps, EveryFailureHasALineForItsKindOfSession) {
  constexpr SessionKind kUpdate = SessionKind::Update;
  constexpr SessionKind kReading = SessionKind::Reading;
  for (int id : {IDS_TIMEOUT_IDENTIFY, IDS_TIMEOUT_WRITE, IDS_TIMEOUT_ERASE, IDS_ILLEGAL_DEVICE,
                 IDS_USE_UPDATE_MODE, IDS_TRANSFER_ERROR}) {
    SCOPED_TRACE(LoadString(id));
    EXPECT_EQ(NextStepFor(kUpdate, LoadString(id)).rfind("What to do: ", 0), 0u);
  }
  // An update that failed after the unit entered its update mode says how the unit is left and
  // how to recover it; a read-only session never says so.
  for (int id : {IDS_TIMEOUT_WRITE, IDS_TIMEOUT_ERASE, IDS_TRANSFER_ERROR}) {
    EXPECT_NE(NextStepFor(kUpdate, LoadString(id)).find("stays in its firmware update mode"),
              std::string::npos);
  }
  for (const std::string& message :
       {LoadString(IDS_TRANSFER_ERROR), LoadString(IDS_TIMEOUT_IDENTIFY),
        std::string(kDeviceVanishedText)}) {
    SCOPED_TRACE(message);
    const std::string advice = NextStepFor(kReading, message);
    EXPECT_NE(advice, "");
    EXPECT_EQ(advice.find("update mode"), std::string::npos);
  }
  EXPECT_NE(NextStepFor(kUpdate, kDeviceVanishedText).find("run the update again"),
            std::string::npos);
  EXPECT_NE(NextStepFor(kUpdate, kInterruptedText).find("run the update again"), std::string::npos);
  EXPECT_NE(NextStepFor(kUpdate, kBootReadFailedText), "");
  EXPECT_NE(NextStepFor(kReading, kStampReadFailedText), "");
  EXPECT_NE(NextStepFor(kReading, kFlashDiffersText).find("run the update"), std::string::npos);
  EXPECT_NE(NextStepFor(kUpdate, LoadString(IDS_USE_UPDATE_MODE)).find("firmware update mode"),
            std::string::npos);
  EXPECT_EQ(
      NextStepFor(kUpdate, kDeviceBusyText).rfind("Another program may be using the device", 0),
      0u);
  EXPECT_EQ(NextStepFor(kUpdate, LoadString(IDS_UPDATE_COMPLETED)), "");
  EXPECT_EQ(NextStepFor(kReading, "something else"), "");
}

TEST(UpdateSideBySide, ReportLinesBecomeAUnitLineAndTheSummary) {
  const auto t0 = ProgressClock::time_point{} + std::chrono::seconds(10);
  UnitProgress unit;
  unit.inName = "Q9 A";
  unit.outName = "Q9 A";
  unit.started = t0;
  unit.TakeReport("@step 3/10", t0);
  unit.TakeReport("@range 0 110592", t0);
  unit.TakeReport("@status " + DataTransmitText(40960, 110592), t0);
  unit.TakeReport("@pos 40960", t0 + std::chrono::seconds(1));
  EXPECT_EQ(unit.Line(1),
            "unit 1  IN \"Q9 A\" OUT \"Q9 A\"  [3/10] PRESET: Data transmit  40960 / 110592   "
            "40.0 KiB/s");
  unit.TakeError("Warning: this build carries the synthetic test package; ...");
  unit.TakeError(LoadString(IDS_TRANSFER_ERROR));
  unit.TakeError("What to do: run the update again.");
  unit.ended = true;
  unit.exitCode = 1;
  unit.endedAt = t0 + std::chrono::milliseconds(2500);

  UnitProgress good = unit;
  good.inName = good.outName = "Q9 B";
  good.exitCode = 0;
  good.message = LoadString(IDS_UPDATE_COMPLETED);
  EXPECT_EQ(SummaryTable({good, unit}),
            "unit                    result   message                    time\n"
            "1 IN \"Q9 B\" OUT \"Q9 B\"  updated  Version update completed.  2.5 s\n"
            "2 IN \"Q9 A\" OUT \"Q9 A\"  failed   Transfer error occurred.   2.5 s\n");
}

}  // namespace
}  // namespace kv5
