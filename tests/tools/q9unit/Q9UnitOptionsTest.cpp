// How q9-unit's command line becomes the unit's configuration, and what it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/q9unit/Q9UnitOptions.h"

namespace kv5 {
namespace {

int Parse(std::vector<std::string> args, Q9UnitOptions* options) {
  args.insert(args.begin(), "q9-unit");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return ParseQ9UnitOptions(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(Q9UnitOptions, DefaultsAndEveryOption) {
  Q9UnitOptions defaults;
  ASSERT_EQ(Parse({}, &defaults), -1);
  EXPECT_EQ(defaults.name, "TELVOR Q9");
  EXPECT_EQ(defaults.system, MidiSystem::Automatic);
  EXPECT_EQ(defaults.unit.initialFlash, InitialFlash::OlderFirmware);
  EXPECT_TRUE(defaults.unit.updateMode);
  EXPECT_EQ(defaults.unit.deviceCode, (std::array<uint8_t, 4>{0x4D, 0x00, 0x12, 0x00}));
  EXPECT_FALSE(defaults.unit.pacing.Enabled());
  EXPECT_TRUE(defaults.unit.faults.Empty());

  Q9UnitOptions o;
  ASSERT_EQ(Parse({"--name",
                   "Q9 Bench",
                   "--system",
                   "jack",
                   "--flash",
                   "factory",
                   "--mode",
                   "normal",
                   "--device-code",
                   "4E000200",
                   "--revision",
                   "00000001",
                   "--fault",
                   "drop:write:3",
                   "--fault",
                   "delay:erase:2-:1500",
                   "--request",
                   "write:5:01",
                   "--request",
                   "any:1:identity:before",
                   "--pacing",
                   "usb",
                   "--erase-ms",
                   "40",
                   "--write-ms",
                   "3",
                   "--accept-identical-rewrite",
                   "--verify-source",
                   "embedded",
                   "--verify-exit",
                   "-v",
                   "--transcript"},
                  &o),
            -1);
  EXPECT_EQ(o.name, "Q9 Bench");
  EXPECT_EQ(o.system, MidiSystem::Jack);
  EXPECT_EQ(o.unit.initialFlash, InitialFlash::Factory);
  EXPECT_FALSE(o.unit.updateMode);
  EXPECT_EQ(o.unit.deviceCode, (std::array<uint8_t, 4>{0x4E, 0x00, 0x02, 0x00}));
  EXPECT_EQ(o.unit.revision, (std::array<uint8_t, 4>{0x00, 0x00, 0x00, 0x01}));
  ASSERT_EQ(o.unit.faults.Faults().size(), 2u);
  EXPECT_EQ(o.unit.faults.Faults()[1].action, FaultAction::Delay);
  ASSERT_EQ(o.unit.ownRequests.size(), 2u);
  EXPECT_EQ(o.unit.ownRequests[0].request, UnitRequest::Vendor(0x01));
  EXPECT_EQ(o.unit.ownRequests[0].after, MessageKind::FlashWrite);
  EXPECT_EQ(o.unit.ownRequests[0].occurrence, 5u);
  EXPECT_FALSE(o.unit.ownRequests[0].beforeAnswer);
  EXPECT_EQ(o.unit.ownRequests[1].request, UnitRequest::Identity());
  EXPECT_TRUE(o.unit.ownRequests[1].beforeAnswer);
  EXPECT_EQ(o.unit.pacing.bytesPerSecond, LinkPacing::kUsbBytesPerSecond);
  EXPECT_EQ(o.unit.pacing.perErase, std::chrono::milliseconds(40));
  EXPECT_EQ(o.unit.pacing.perWrite, std::chrono::milliseconds(3));
  EXPECT_TRUE(o.unit.acceptIdenticalRewrite);
  EXPECT_EQ(o.verifySource, PackageSource::Embedded);
  EXPECT_TRUE(o.verifyExitCode);
  EXPECT_TRUE(o.verbose);
  EXPECT_TRUE(o.transcript);

  Q9UnitOptions din;
  ASSERT_EQ(Parse({"--pacing", "din"}, &din), -1);
  EXPECT_EQ(din.unit.pacing.bytesPerSecond, 3125u);
  ASSERT_EQ(Parse({"--pacing", "din", "--rate", "10000"}, &din), -1);
  EXPECT_EQ(din.unit.pacing.bytesPerSecond, 10000u);
}

TEST(Q9UnitOptions, RefusesWhatDoesNotParse) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--system", "winmm"},
           {"--flash", "newer"},
           {"--device-code", "4D0012"},
           {"--device-code", "4D0012G0"},
           {"--device-code", "8D001200"},
           {"--fault", "drop:write"},
           {"--request", "write:0:01"},
           {"--request", "write:1:80"},
           {"--request", "write:1:01:after"},
           {"--no-such-option"},
       }) {
    Q9UnitOptions options;
    EXPECT_EQ(Parse(args, &options), kQ9ExitUsage) << args[0] << " " << args.back();
  }
}

TEST(Q9UnitOptions, VersionAndHelpNameTheProgram) {
  Q9UnitOptions options;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(Parse({"--version"}, &options), kQ9ExitOk);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("q9-unit 1.20", 0), 0u);

  // Started by its path in the build tree, the help still names the program alone.
  std::string program = "/build/release/tools/q9unit/q9-unit";
  std::string flag = "--help";
  char* argv[] = {program.data(), flag.data()};
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(ParseQ9UnitOptions(2, argv, &options), kQ9ExitOk);
  const std::string help = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(help.find("Usage: q9-unit [OPTIONS]"), std::string::npos) << help;
  EXPECT_EQ(help.find("/build/"), std::string::npos) << help;
}

}  // namespace
}  // namespace kv5
