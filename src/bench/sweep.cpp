// The sequential sweep: one timed run of transfers per zone, one chart
// point per zone, the message pump between zones.
#include <cstring>
#include <limits>

#include "../drive/rerode.h"
#include "../support/WinGen.h"
#include "../ui/ufg.h"
#include "phases.h"

namespace {

std::int32_t ClampToInt32(std::int64_t value) {
  if (value > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value);
}

// The speed axis' label step for this running sum, snapped to a round value.
std::int32_t AxisStep(std::int64_t speedSum, std::int32_t zoneCount) {
  std::int64_t step = RoundHalfEven(static_cast<long double>(speedSum) / zoneCount / 4);
  if (step < 50) return 50;
  if (step < 100) return 100;
  if (step < 250) return 250;
  if (step < 500) return 500;
  return ClampToInt32(step);
}

}  // namespace

void SweepZones(RunState& run, bool IsRead, TChartSeries* Series) {
  std::memset(Bench.TransferBuffer, 0, sizeof Bench.TransferBuffer);
  // Held in 64 bits: thousands of zones of a fast drive pass 2^31 KiB/s.
  std::int64_t speedSum = 0;
  if (run.ZoneCount <= 0) return;
  const std::int32_t zones = run.ZoneCount;
  const std::int32_t sectorSize = CurrentRow().SectorSize;
  TChartAxis& speedAxis = fg->Chart1->LeftAxis();
  for (std::int32_t q = 1; q <= zones; ++q) {
    const std::int32_t zoneStart = (q - 1) * run.ZoneSectors;
    run.CurrentSector = zoneStart + run.BlockSectors;
    // The move to the zone lies outside the timed window.
    if (IsRead) {
      ReadSectors(zoneStart, run.BlockSectors, 0);
    } else {
      WriteSectors(zoneStart, run.BlockSectors);
    }

    run.IdleSnapshot = IdleCounter.load(std::memory_order_relaxed);
    run.CounterStart = ReadCounter();
    for (std::int32_t t = 0; t < run.TransfersPerZone; ++t) {
      run.TransferOk = IsRead ? ReadSectors(run.CurrentSector, run.BlockSectors, 0)
                              : WriteSectors(run.CurrentSector, run.BlockSectors);
      if (!run.TransferOk) break;
      run.CurrentSector += run.BlockSectors;
    }
    if (!run.TransferOk) return;
    if (!IsRead) {
      // The closing read forces the last writes out to the medium.
      run.TransferOk = ReadSectors(run.CurrentSector, run.BlockSectors, 0);
      if (!run.TransferOk) return;
    }
    run.CounterEnd = ReadCounter();

    if (q <= kMaxTimedZones) {
      if (IsRead) {
        Bench.ReadTicksPerTransfer[q] =
            static_cast<std::int32_t>((run.CounterEnd - run.CounterStart) / run.TransfersPerZone);
      } else {
        run.CounterEnd -= Bench.ReadTicksPerTransfer[q];  // less the closing read's time
      }
    }
    run.IdleDuringSweep += IdleCounter.load(std::memory_order_relaxed) - run.IdleSnapshot;
    const std::int64_t elapsed = run.CounterEnd - run.CounterStart;
    if (elapsed == 0) {
      // No speed can be had from this zone: it gets no point.
      MessageDlg("Error in read timing.", mtError, mbOK, 0);
    } else {
      const long double seconds = static_cast<long double>(elapsed) / run.CounterFrequency;
      run.ZoneKBps = ClampToInt32(RoundHalfEven(run.TransfersPerZone * 32 / seconds));
      speedSum += run.ZoneKBps;
      run.SweepSeconds += static_cast<double>(seconds);
      const double position =
          static_cast<double>(static_cast<long double>(zoneStart) / run.PositionUnit * sectorSize);
      Series->AddXY((q - 1) * 32, run.ZoneKBps, FixedText(position, 2) + run.PositionUnitText, clTeeColor);
      run.ZoneKBps = AxisStep(speedSum, run.ZoneCount);
      if (run.ZoneKBps < speedAxis.Increment()) speedAxis.SetIncrement(run.ZoneKBps);
    }

    Application->ProcessMessages();
    if (fg->CancelRequested) {
      run.LogFile.WriteLine("User cancel.");
      run.ZoneCount = q;
      return;
    }
  }
}
