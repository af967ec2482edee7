// The flash verification against the package, from the build's image files and from the images
// in the program, and a complete update driven through the unit's protocol logic.
#include <gtest/gtest.h>

#include <algorithm>

#include "firmware/FirmwarePackage.h"
#include "unit/PackageCheck.h"
#include "unit/UnitRequests.h"

namespace kv5 {
namespace {

// Runs the update plan against the unit the way the host does, in chunks of 4096 bytes.
void RunPlan(test::ResponderHarness& h) {
  ASSERT_EQ(h.EnterUpdate(), 0);
  for (const PlanStep& step : UpdatePlan) {
    const auto address = static_cast<uint32_t>(step.address);
    if (step.kind == kEraseStep) {
      ASSERT_EQ(h.ResultOf(test::EraseRequest(address, static_cast<uint32_t>(step.size))), 0);
      continue;
    }
    const FirmwareImage image = OpenImage(step.resourceId);
    const uint32_t size = step.size ? static_cast<uint32_t>(step.size) : image.size;
    for (uint32_t offset = 0; offset < size; offset += 4096) {
      const uint32_t count = std::min<uint32_t>(4096, size - offset);
      const std::vector<uint8_t> chunk(image.bytes + offset, image.bytes + offset + count);
      ASSERT_EQ(h.ResultOf(test::WriteRequest(address + offset, chunk)), 0) << address + offset;
    }
  }
  ASSERT_EQ(h.ResultOf(test::VendorRequest(0x04)), 0);
}

TEST(PackageCheck, FindsTheFirstMismatchingAddress) {
  for (PackageSource source : {PackageSource::BuildFiles, PackageSource::Embedded}) {
    FlashModel flash;
    LoadInitialFlash(flash, InitialFlash::Package);
    const auto good = VerifyPackage(flash, source);
    EXPECT_TRUE(good.ok) << good.message;
    EXPECT_EQ(good.message, "flash matches the package");

    LoadInitialFlash(flash, InitialFlash::Factory);
    auto bad = VerifyPackage(flash, source);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.firstMismatch, 0u);
    EXPECT_EQ(bad.component, "BOOT");
    EXPECT_EQ(bad.actual, 0xFF);

    // The older firmware differs first in the SYSTEM stamp: "1.10" against "1.20".
    LoadInitialFlash(flash, InitialFlash::OlderFirmware);
    bad = VerifyPackage(flash, source);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.firstMismatch, 0x170FE2u);
    EXPECT_EQ(bad.component, "SYSTEM info block");
    EXPECT_EQ(bad.expected, '2');
    EXPECT_EQ(bad.actual, '1');
    EXPECT_EQ(bad.message.rfind("mismatch at 0x170FE2 (SYSTEM info block)", 0), 0u) << bad.message;

    // Behind the SYSTEM image the region must be erased; outside the plan nothing is checked.
    LoadInitialFlash(flash, InitialFlash::Package);
    const uint32_t tail = 0x066000 + OpenImage(kSystemImageId).size;
    const uint8_t zero = 0;
    flash.Load(tail + 10, &zero, 1);
    flash.Load(0x171000, &zero, 1);  // between the info block and SUBMCU
    flash.Load(0x1FFFFF, &zero, 1);
    bad = VerifyPackage(flash, source);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.firstMismatch, tail + 10);
    EXPECT_EQ(bad.component, "SYSTEM");
    EXPECT_EQ(bad.expected, 0xFF);
    const uint8_t erased = 0xFF;
    flash.Load(tail + 10, &erased, 1);
    EXPECT_TRUE(VerifyPackage(flash, source).ok);

    // The last byte of the last write step.
    const uint8_t flipped = static_cast<uint8_t>(~flash.At(0x170FFF));
    flash.Load(0x170FFF, &flipped, 1);
    EXPECT_EQ(VerifyPackage(flash, source).firstMismatch, 0x170FFFu);
  }
}

TEST(PackageCheck, AnUpdateThroughTheProtocolLeavesThePackage) {
  for (InitialFlash state : {InitialFlash::Factory, InitialFlash::OlderFirmware}) {
    test::ResponderHarness h(test::ConfigWith(state));
    EXPECT_FALSE(VerifyPackage(h.unit.Flash()).ok);
    RunPlan(h);
    const auto verification = VerifyPackage(h.unit.Flash());
    EXPECT_TRUE(verification.ok) << InitialFlashName(state) << ": " << verification.message;
    EXPECT_EQ(h.unit.Count(MessageKind::FlashErase), 5u);
    EXPECT_EQ(h.unit.Count(MessageKind::FlashWrite), 368u);
    const std::string summary = SummarizeTranscript(h.unit.Transcript());
    EXPECT_NE(summary.find("wrote 1506592 bytes"), std::string::npos) << summary;
    EXPECT_NE(summary.find("erased 1531904 bytes"), std::string::npos) << summary;
  }
}

}  // namespace
}  // namespace kv5
