// The zones a sweep visits: how many, how far apart, how many transfers
// each, and the unit of the position labels.
#include "../drive/rerode.h"
#include "phases.h"

void PlanZones(RunState& run) {
  const std::int32_t sectorSize = CurrentRow().SectorSize;
  run.TransfersPerZone = 32;
  run.ZoneSectors = 33554432 / sectorSize;
  run.ZoneCount = run.LastSector / run.ZoneSectors;
  if (run.ZoneCount < 8) {
    // Small drive: eight zones over the first 99 %.
    run.ZoneSectors = static_cast<std::int32_t>(static_cast<std::int64_t>(run.LastSector) * 99 / 800);
    run.TransfersPerZone = run.ZoneSectors / run.BlockSectors / 4;
    run.ZoneCount = 8;
    if (run.TransfersPerZone < 2) run.TransfersPerZone = 2;
    if (run.TransfersPerZone > 16) run.TransfersPerZone = 16;
  }
  if (run.ZoneCount > 64) {
    run.ZoneSectors *= 2;
    run.ZoneCount /= 2;
  }
  // Very large drives of large sectors: the per-zone read times hold only
  // so many zones, so space them wider still.
  while (run.ZoneCount > kMaxTimedZones) {
    run.ZoneSectors *= 2;
    run.ZoneCount /= 2;
  }
  if (static_cast<std::int64_t>(run.LastSector) * sectorSize >= 1073741824) {
    run.PositionUnit = 1073741824;
    run.PositionUnitText = "gb";
  } else {
    run.PositionUnit = 1048576;
    run.PositionUnitText = "mb";
  }
}
