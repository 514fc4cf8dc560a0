#include <gtest/gtest.h>

#include <climits>

#include "drive/rerode.h"
#include "support/WinGen.h"

TEST(WinGen, HexDigits) {
  EXPECT_EQ(LongHex(0), "00000000");
  EXPECT_EQ(LongHex(1), "00000001");
  EXPECT_EQ(LongHex(0xFFFFFFFFu), "FFFFFFFF");
  EXPECT_EQ(LongHex(0x0A1B2C3Du), "0A1B2C3D");
  EXPECT_EQ(ByteHex(10), "0A");
  EXPECT_EQ(ByteHex(255), "FF");
  EXPECT_EQ(ByteHex(0), "00");
}

TEST(WinGen, IntText) {
  EXPECT_EQ(IntText(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntText(0), "0");
  EXPECT_EQ(IntText(12000), "12000");
}

TEST(WinGen, FixedTextRoundsTheExactExpansionHalfAwayFromZero) {
  struct Case {
    double value;
    int decimals;
    const char* text;
  } cases[] = {
      {2.25, 1, "2.3"},     {0.05, 1, "0.1"},  {0.5, 1, "0.5"},   {-0.04, 1, "-0.0"}, {2.5, 0, "3"},
      {9.96, 1, "10.0"},    {-0.0, 1, "-0.0"}, {0.0, 2, "0.00"},  {1.15, 1, "1.1"},   // 1.15 is 1.1499... as a double
      {12000, 1, "12000.0"}, {1.0, 2, "1.00"},  {-2.5, 0, "-3"},   {999.995, 2, "1000.00"},
      {19664.45, 1, "19664.5"}, {1e6, 1, "1000000.0"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FixedText(c.value, c.decimals), c.text) << c.value << " with " << c.decimals;
  }
}

TEST(DeviceFilter, TheLowDigitOfTheTypeMustAppearInTheAcceptedTypes) {
  Drives = DriveTable{};
  Drives.FilterOn = true;
  Drives.AcceptedTypes = "0A";
  for (int type : {0x00, 0x0A, 0x10, 0x1A, 0xFA}) EXPECT_TRUE(DeviceTypeAccepted(type)) << type;
  for (int type : {0x05, 0x01, 0x0B, 0x15}) EXPECT_FALSE(DeviceTypeAccepted(type)) << type;
  Drives.AcceptedTypes = "0a";  // the digit is compared upper-case
  EXPECT_FALSE(DeviceTypeAccepted(10));
  Drives.FilterOn = false;
  EXPECT_TRUE(DeviceTypeAccepted(5));
}
