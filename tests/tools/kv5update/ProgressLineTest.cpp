#include "tools/kv5update/ProgressLine.h"

#include <gtest/gtest.h>

#include <sstream>

#include "session/StringTable.h"

namespace kv5 {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(ProgressFormat, RateDurationAndBar) {
  EXPECT_EQ(FormatRate(512), "512 B/s");
  EXPECT_EQ(FormatRate(35328), "34.5 KiB/s");
  EXPECT_EQ(FormatRate(1.5 * 1024 * 1024), "1.5 MiB/s");
  EXPECT_EQ(FormatDuration(seconds(7)), "0:07");
  EXPECT_EQ(FormatDuration(seconds(754)), "12:34");
  EXPECT_EQ(FormatDuration(seconds(3723)), "1:02:03");
  EXPECT_EQ(FormatBar(0, 10, 5, 10), "[#####.....]");
  EXPECT_EQ(FormatBar(0, 1064224, 1064224, 4), "[####]");
  // Positions outside the range are shown at its ends; an empty range shows an empty bar.
  EXPECT_EQ(FormatBar(0, 10, 20, 4), "[####]");
  EXPECT_EQ(FormatBar(0, 10, -3, 4), "[....]");
  EXPECT_EQ(FormatBar(0, 0, 0, 4), "[....]");
  // A range above 65535 is held in proportion.
  EXPECT_EQ(FormatBar(0, 1064224, 532112, 20), "[##########..........]");
}

TEST(RateMeter, MeasuresOverTheRecentWindowAndEstimatesTimeLeft) {
  RateMeter meter;
  const auto t0 = ProgressClock::time_point{} + seconds(100);
  meter.Sample(0, t0);
  EXPECT_FALSE(meter.BytesPerSecond());  // one point tells no rate
  meter.Sample(4096, t0 + milliseconds(50));
  EXPECT_FALSE(meter.BytesPerSecond());  // too short a span to trust
  meter.Sample(40960, t0 + seconds(1));
  ASSERT_TRUE(meter.BytesPerSecond());
  EXPECT_DOUBLE_EQ(*meter.BytesPerSecond(), 40960.0);
  EXPECT_EQ(meter.TimeLeft(409600), seconds(10));

  // The old fast start falls out of the window: only the last seconds count.
  meter.Sample(45056, t0 + seconds(5));
  meter.Sample(49152, t0 + seconds(9));
  ASSERT_TRUE(meter.BytesPerSecond());
  EXPECT_NEAR(*meter.BytesPerSecond(), 1024.0, 1.0);

  // A position that goes back starts over.
  meter.Sample(0, t0 + seconds(10));
  EXPECT_FALSE(meter.BytesPerSecond());
  EXPECT_FALSE(meter.TimeLeft(100));
}

TEST(ProgressLine, TimeLeftCountsTheWritesOfTheStepsStillToCome) {
  // BOOT 307200, SYSTEM 1064224, SUBMCU 20480, the SYSTEM info block 4096; PRESET 110592 first.
  EXPECT_EQ(PlanBytesAfter(0), 110592 + 307200 + 1064224 + 20480 + 4096);
  EXPECT_EQ(PlanBytesAfter(3), 307200 + 1064224 + 20480 + 4096);
  EXPECT_EQ(PlanBytesAfter(7), 20480 + 4096);
  EXPECT_EQ(PlanBytesAfter(9), 4096);
  EXPECT_EQ(PlanBytesAfter(10), 0);
}

// Feeds what the update session shows in a short run: identification and update mode, an erase,
// a write of three chunks, two skipped steps, the last write and the completion.
void PlayShortSession(ProgressLine& line, ProgressClock::time_point t0) {
  auto at = [&](int ms) { return t0 + milliseconds(ms); };
  line.SetStep("0/10", at(0));
  line.SetStatus(LoadString(IDS_ERASING), at(1));
  line.SetStatus("", at(2));
  line.SetStep("1/10", at(3));
  line.SetRange(0, 10, at(3));
  line.SetPosition(1, at(3));
  line.SetStatus(LoadString(IDS_ERASING), at(3));
  line.SetStatus(LoadString(IDS_ERASING), at(4));  // a resent erase
  line.SetPosition(10, at(5));
  line.SetStep("2/10", at(6));
  line.SetRange(0, 10, at(6));
  line.SetPosition(1, at(6));
  line.SetStatus(LoadString(IDS_ERASING), at(6));
  line.SetPosition(10, at(7));
  line.SetStep("3/10", at(8));
  line.SetRange(0, 12288, at(8));
  for (int done = 0; done < 12288; done += 4096) {
    line.SetStatus(DataTransmitText(done, 12288), at(8 + done / 4096 * 500));
    line.SetPosition(done + 4096, at(508 + done / 4096 * 500));
  }
  line.SetStep("4/10", at(1600));
  line.SetStep("5/10", at(1601));
  line.SetStep("6/10", at(1602));
  line.SetStep("10/10", at(1603));
  line.SetRange(0, 4096, at(1603));
  line.SetStatus(DataTransmitText(0, 4096), at(1603));
  line.SetPosition(4096, at(2603));
}

TEST(ProgressLine, PlainModePrintsOneLinePerPhaseWithoutCarriageReturns) {
  std::ostringstream out;
  ProgressLine line(out, false);
  PlayShortSession(line, ProgressClock::time_point{} + seconds(50));
  line.Refresh(ProgressClock::now(), true);
  line.Break();
  EXPECT_EQ(out.str(),
            // Nothing is erased before step 1: the unit is asked into its update mode.
            "[0/10] Entering the firmware update mode\n"
            "[1/10] SYSTEM info block: Erasing Flash memory.\n"
            "[2/10] PRESET: Erasing Flash memory.\n"
            "[3/10] PRESET: Data transmit  0 / 12288 \n"
            "[3/10] PRESET: 12288 bytes written in 1.5 s (8.0 KiB/s)\n"
            "[4/10] BOOT unchanged, skipped\n"
            "[5/10] BOOT unchanged, skipped\n"
            "[6/10] SYSTEM unchanged, skipped\n"
            "[10/10] SYSTEM info block: Data transmit  0 / 4096 \n"
            "[10/10] SYSTEM info block: 4096 bytes written in 1.0 s (4.0 KiB/s)\n");
}

TEST(ProgressLine, PlainModeSaysWhereALongPhaseStandsEveryTenSeconds) {
  std::ostringstream out;
  ProgressLine line(out, false);
  const auto t0 = ProgressClock::time_point{} + seconds(50);
  line.SetStep("7/10", t0);
  line.SetRange(0, 1064224, t0);
  line.SetStatus(DataTransmitText(0, 1064224), t0);
  line.SetPosition(4096, t0 + seconds(1));
  line.SetStatus(DataTransmitText(4096, 1064224), t0 + seconds(1));
  line.Refresh(t0 + milliseconds(9900));  // not yet ten seconds
  line.SetPosition(32768, t0 + seconds(10));
  line.SetStatus(DataTransmitText(32768, 1064224), t0 + seconds(10));
  line.Refresh(t0 + milliseconds(10100));
  line.Refresh(t0 + seconds(15));  // five seconds after the last line: nothing
  // A phase without a position, an erase the unit takes long over, says how long it has waited.
  line.SetStep("8/10", t0 + seconds(16));
  line.SetStatus(LoadString(IDS_ERASING), t0 + seconds(16));
  line.Refresh(t0 + seconds(27));
  EXPECT_EQ(out.str(),
            "[7/10] SYSTEM: Data transmit  0 / 1064224 \n"
            "[7/10] SYSTEM: Data transmit  32768 / 1064224   3.1 KiB/s  5:31 left\n"
            "[8/10] SUBMCU: Erasing Flash memory.\n"
            "[8/10] SUBMCU: Erasing Flash memory. (11 s so far)\n");
}

TEST(ProgressLine, LiveModeRewritesOneLinePerStep) {
  std::ostringstream out;
  ProgressLine line(out, true, 100);
  const auto t0 = ProgressClock::time_point{} + seconds(50);
  line.SetStep("3/10", t0);
  line.SetRange(0, 40960, t0);
  line.SetStatus(DataTransmitText(0, 40960), t0);
  line.Refresh(t0);
  line.SetPosition(4096, t0 + milliseconds(40));
  line.SetStatus(DataTransmitText(4096, 40960), t0 + milliseconds(40));
  line.Refresh(t0 + milliseconds(40));  // too soon after the last drawing: nothing drawn
  line.SetPosition(20480, t0 + seconds(1));
  line.SetStatus(DataTransmitText(20480, 40960), t0 + seconds(1));
  line.Refresh(t0 + seconds(1));
  line.SetStep("4/10", t0 + seconds(2));
  line.Refresh(t0 + seconds(2), true);
  line.Break();

  const std::string text = out.str();
  EXPECT_EQ(text.find("4096 / 40960"), std::string::npos);
  EXPECT_NE(text.find("\r[3/10] PRESET: Data transmit  0 / 40960  [....................] 0%"),
            std::string::npos)
      << text;
  // The time left is the whole update's: this image's 20480 bytes and the 1396000 of the write
  // steps 5, 7, 9 and 10 at 20 KiB/s.
  EXPECT_NE(text.find("\r[3/10] PRESET: Data transmit  20480 / 40960  [##########..........] 50%  "
                      "20.0 KiB/s  1:09 left"),
            std::string::npos)
      << text;
  // The step change ends the 3/10 line; 4/10 gets a line of its own.
  EXPECT_NE(text.find("left\n\r[4/10]"), std::string::npos) << text;
  EXPECT_EQ(text.back(), '\n');
}

TEST(ProgressLine, LiveLineNeverWrapsAndBlanksLeftovers) {
  std::ostringstream out;
  ProgressLine line(out, true, 50);
  const auto t0 = ProgressClock::time_point{} + seconds(50);
  line.SetStep("7/10", t0);
  line.SetRange(0, 1064224, t0);
  line.SetStatus(DataTransmitText(1060864, 1064224), t0);
  line.Refresh(t0, true);
  line.SetStatus("short", t0 + seconds(1));
  line.Refresh(t0 + seconds(1), true);
  const std::string text = out.str();
  const size_t second = text.rfind('\r', text.rfind('\r') - 1);
  // Each drawing is at most width - 1 columns; the shorter one blanks out the longer one's tail.
  EXPECT_EQ(text.find('\r', 1), second);
  EXPECT_EQ(second - 1, 49u);
  EXPECT_NE(text.find("[7/10] SYSTEM: short "), std::string::npos);
  EXPECT_NE(text.find("[7/10] SYSTEM: short  [....................] 0%" + std::string(2, ' ') +
                      "\r[7/10] SYSTEM: short"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace kv5
