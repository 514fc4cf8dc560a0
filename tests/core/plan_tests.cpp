// The zone plan, the access positions and the measurement formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "bench/phases.h"
#include "drive/rerode.h"
#include "fixture.h"

namespace {

RunState Plan(std::int32_t totalSectors, std::int32_t sectorSize) {
  Drives = DriveTable{};
  Drives.DriveCount = 1;
  Drives.Row[1].TotalSectors = totalSectors;
  Drives.Row[1].SectorSize = sectorSize;
  SelectDrive(1);
  RunState run;
  run.LastSector = totalSectors - 1;
  run.BlockSectors = 32768 / sectorSize;
  PlanZones(run);
  return run;
}

}  // namespace

TEST(ZonePlan, Table) {
  struct Case {
    std::int32_t total, sectorSize, block, zoneSectors, zones, transfers;
    const char* unit;
  } cases[] = {
      {2000000, 512, 64, 65536, 30, 32, "mb"},       // about 1 GB
      {39062500, 512, 64, 131072, 298, 32, "gb"},    // 20 GB: 596 zones halved
      {2880, 512, 64, 356, 8, 2, "mb"},              // 1.44 MB floppy: 1 transfer raised to 2
      {333000, 2048, 16, 16384, 20, 32, "mb"},       // CD-ROM
      {8192, 512, 64, 1013, 8, 3, "mb"},             // 4 MiB
      {81920, 512, 64, 10137, 8, 16, "mb"},          // 40 MiB: 39 lowered to 16
      {524288, 512, 64, 64880, 8, 16, "mb"},         // count 7: small-drive branch
      {524289, 512, 64, 65536, 8, 32, "mb"},         // count 8
      {4259840, 512, 64, 65536, 64, 32, "gb"},       // 64 zones stay
      {4259841, 512, 64, 131072, 32, 32, "gb"},      // count 65: halved once
      {2097152, 512, 64, 65536, 31, 32, "mb"},       // one sector short of 1 GiB
      {2097153, 512, 64, 65536, 32, 32, "gb"},
      {524288, 2048, 16, 16384, 31, 32, "mb"},
      {524289, 2048, 16, 16384, 32, 32, "gb"},
      {2147483647, 512, 64, 131072, 16383, 32, "gb"},  // the largest drive of 512-byte sectors
      {1440, 512, 64, 178, 8, 2, "mb"},              // 720 KB floppy
      {100000, 1536, 21, 12374, 8, 16, "mb"},        // 1,536-byte sectors round down
  };
  for (const Case& c : cases) {
    RunState run = Plan(c.total, c.sectorSize);
    EXPECT_EQ(run.BlockSectors, c.block) << c.total;
    EXPECT_EQ(run.ZoneSectors, c.zoneSectors) << c.total;
    EXPECT_EQ(run.ZoneCount, c.zones) << c.total;
    EXPECT_EQ(run.TransfersPerZone, c.transfers) << c.total;
    EXPECT_EQ(run.PositionUnitText, c.unit) << c.total;
    EXPECT_EQ(run.PositionUnit, std::string(c.unit) == "gb" ? 1073741824 : 1048576);
  }
  EXPECT_EQ(Plan(1000000, 1536).ZoneSectors, 21845);  // 33,554,432 / 1,536 rounded down
}

TEST(ZonePlan, VeryLargeDrivesOfLargeSectorsStayWithinThePerZoneTable) {
  for (std::int32_t sectorSize : {1024, 1536, 2048}) {
    RunState run = Plan(2147483647, sectorSize);
    EXPECT_LE(run.ZoneCount, 20000) << sectorSize;
    EXPECT_GE(run.ZoneCount, 10000) << sectorSize;
    EXPECT_LE(static_cast<std::int64_t>(run.ZoneCount) * run.ZoneSectors, run.LastSector);
  }
}

TEST(MaxTransfer, ClampedBetween32And64KiB) {
  EXPECT_EQ(ClampMaxTransfer(-1), 65536);
  EXPECT_EQ(ClampMaxTransfer(4096), 32768);
  EXPECT_EQ(ClampMaxTransfer(131072), 65536);
  EXPECT_EQ(ClampMaxTransfer(49152), 49152);
  EXPECT_EQ(ClampMaxTransfer(0), 32768);
}

TEST(AccessPositions, FixedPseudoRandomSequence) {
  std::int32_t p[256];
  AccessPositions(1999999, p);
  EXPECT_EQ(std::vector<std::int32_t>(p, p + 5), (std::vector<std::int32_t>{1957552, 427135, 856204, 282848, 700002}));
  EXPECT_EQ(p[255], 1692100);
  EXPECT_EQ(std::count(p, p + 256, 1979999), 3);
  EXPECT_LE(*std::max_element(p, p + 256), 1979999);
  AccessPositions(0, p);
  EXPECT_TRUE(std::all_of(p, p + 256, [](std::int32_t v) { return v == 0; }));
  AccessPositions(10, p);
  EXPECT_LE(*std::max_element(p, p + 256), 9);
}

namespace {

RunState Measured(const std::string& json, std::int32_t maxTransfer = 65536) {
  UseMachine(json);
  EXPECT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(1);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  RunState run;
  run.LastSector = CurrentRow().TotalSectors - 1;
  run.MaxTransfer = maxTransfer;
  MeasureAccessTime(run);
  if (run.TransferOk) MeasureBurst(run);
  return run;
}

}  // namespace

TEST(AccessAndBurst, MeanReadTimeAndFastestBurst) {
  // Every access read seeks (13,909) and moves half a KiB (91): 14,000 ticks;
  // 256 of them are exactly one second of this counter.
  RunState run = Measured(R"({ "frequency": 3584000, "drives": [ { "sectors": 2000000,
      "geometry": { "cylinders": 2000000, "tracksPerCylinder": 1, "sectorsPerTrack": 1 },
      "timing": { "seek": 13909, "readStart": 182, "readEnd": 182 } } ] })");
  ASSERT_TRUE(run.TransferOk);
  EXPECT_EQ(run.CounterFrequency, 3584000);
  EXPECT_DOUBLE_EQ(run.AccessTimeMs, 3.90625);
  // The burst read follows its pre-read, so it does not seek: 64 KiB at 182 ticks per KiB.
  EXPECT_DOUBLE_EQ(run.BurstKBps, static_cast<double>(3584000.0L / (64 * 182) * 64));
}

TEST(AccessAndBurst, WorkedRates) {
  // The rates of a mean time and a fastest read, as the measurements form them.
  EXPECT_NEAR(static_cast<double>(3579545.0L / 11650 * 64), 19664.45, 0.005);
  EXPECT_NEAR(19664.45 / 1024, 19.2, 0.01);
}

TEST(AccessAndBurst, EdgeCases) {
  // Every burst read takes longer than a second: the rate is MaxTransfer div 1024.
  RunState slow = Measured(R"({ "frequency": 1000, "drives": [ { "sectors": 4000, "geometry": { "cylinders": 4000, "tracksPerCylinder": 1, "sectorsPerTrack": 1 },
      "timing": { "readStart": 100, "readEnd": 100 } } ] })");
  ASSERT_TRUE(slow.TransferOk);
  EXPECT_DOUBLE_EQ(slow.BurstKBps, 64);
  // Too small to hold sectors 104 to 231: the burst fails.
  EXPECT_FALSE(Measured(R"({ "drives": [ { "sectors": 231, "geometry": { "cylinders": 231, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })").TransferOk);
  EXPECT_TRUE(Measured(R"({ "drives": [ { "sectors": 232, "geometry": { "cylinders": 232, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })").TransferOk);
  // 2,048-byte sectors and a 32 KiB limit: 16 sectors per read, counted as 32 KiB.
  RunState cd = Measured(R"({ "frequency": 1000000, "drives": [ { "sectors": 10000, "geometry": { "cylinders": 10000, "tracksPerCylinder": 1, "sectorsPerTrack": 1 }, "sectorSize": 2048,
      "timing": { "readStart": 100, "readEnd": 100 } } ] })",
                         32768);
  EXPECT_DOUBLE_EQ(cd.BurstKBps, static_cast<double>(1000000.0L / (32 * 100) * 32));
  // A failing access read leaves the time unset.
  RunState bad = Measured(R"({ "drives": [ { "sectors": 2000000, "bad": [[1957552, 1]],
      "geometry": { "cylinders": 2000000, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })");
  EXPECT_FALSE(bad.TransferOk);
  EXPECT_EQ(bad.AccessTimeMs, 0.0);
}
