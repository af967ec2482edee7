#include <gtest/gtest.h>

#include "session/VersionTable.h"

namespace kv5 {
namespace {

VersionTable Table(const char* submcu, const char* boot, const char* preset, const char* system,
                   const char* imageSubmcu, const char* imageBoot, const char* imagePreset,
                   const char* imageSystem) {
  return VersionTable{
      {submcu, boot, preset, system, imageSubmcu, imageBoot, imagePreset, imageSystem}};
}

TEST(VersionReport, ArrowsOnlyWhereAnImageStampDiffers) {
  EXPECT_EQ(VersionReport(Table("*.**", "1.00", "1.00", "1.10", "1.01", "1.00", "1.00", "1.20")),
            "SYSTEM:\t\t1.10 -> 1.20\nPRESET:\t\t1.00\nBOOT:\t\t1.00\nSUBMCU:\t\t*.** -> 1.01");
  // Case matters; the SYSTEM line shows its arrow even for equal stamps.
  EXPECT_EQ(VersionReport(Table("a.bc", "0.99", "2.00", "1.20", "A.BC", "1.00", "1.00", "1.20")),
            "SYSTEM:\t\t1.20 -> 1.20\nPRESET:\t\t2.00 -> 1.00\nBOOT:\t\t0.99 -> 1.00\n"
            "SUBMCU:\t\ta.bc -> A.BC");
}

TEST(VersionReport, EmptySlots) {
  EXPECT_EQ(VersionReport(VersionTable{}), "SYSTEM:\t\t -> \nPRESET:\t\t\nBOOT:\t\t\nSUBMCU:\t\t");
  // An unknown image stamp gives no arrow; an unknown unit stamp beside a known one does.
  EXPECT_EQ(VersionReport(Table("1.01", "", "1.00", "1.20", "", "1.00", "", "")),
            "SYSTEM:\t\t1.20 -> \nPRESET:\t\t1.00\nBOOT:\t\t -> 1.00\nSUBMCU:\t\t1.01");
}

}  // namespace
}  // namespace kv5
