// Random access time and read burst speed.
#include "../drive/rerode.h"
#include "phases.h"

// Hot like the transfers: it is read right before and after each one.
[[gnu::hot]] std::int64_t ReadCounter() {
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

void AccessPositions(std::int32_t lastSector, std::int32_t positions[256]) {
  std::uint32_t state = AccessSeed;
  const std::int32_t highest = static_cast<std::int32_t>(static_cast<std::int64_t>(lastSector) * 99 / 100);
  for (int k = 0; k < 256; ++k) {
    state = state * 134775813u + 1;
    auto draw = static_cast<std::int32_t>(
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(lastSector)) * state) >> 32);
    positions[k] = draw > highest ? highest : draw;
  }
}

void MeasureAccessTime(RunState& run) {
  std::int32_t positions[256];
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  run.CounterFrequency = frequency.QuadPart;
  AccessPositions(run.LastSector, positions);
  run.CounterStart = ReadCounter();
  for (std::int32_t position : positions) {
    run.TransferOk = ReadSectors(position, 1, 0);
    if (!run.TransferOk) return;
  }
  run.CounterEnd = ReadCounter();
  run.AccessTimeMs = static_cast<double>(static_cast<long double>(run.CounterEnd - run.CounterStart) /
                                         run.CounterFrequency * 1000 / 256);
}

void MeasureBurst(RunState& run) {
  std::int64_t fastestTicks = run.CounterFrequency;
  const std::int32_t sectors = run.MaxTransfer / CurrentRow().SectorSize;
  for (int i = 0; i < 32; ++i) {
    run.TransferOk = ReadSectors(100, 4, 0);
    if (!run.TransferOk) return;
    Sleep(125);
    run.CounterStart = ReadCounter();
    run.TransferOk = ReadSectors(104, sectors, 0);
    if (!run.TransferOk) return;
    run.CounterEnd = ReadCounter();
    if (run.CounterEnd - run.CounterStart < fastestTicks) fastestTicks = run.CounterEnd - run.CounterStart;
  }
  // A read faster than one tick counts as one tick, not as infinitely fast.
  if (fastestTicks < 1) fastestTicks = 1;
  run.BurstKBps =
      static_cast<double>(static_cast<long double>(run.CounterFrequency) / fastestTicks * (run.MaxTransfer / 1024));
}
