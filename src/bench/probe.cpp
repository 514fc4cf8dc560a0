// How far the drive really reads, when the table's size may be wrong.
#include <limits>

#include "../drive/rerode.h"
#include "phases.h"

void ProbeDriveSize(RunState& run) {
  constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
  auto readable = [](std::int64_t sector) { return ReadSectors(static_cast<std::int32_t>(sector), 1, 0); };
  std::int64_t p = CurrentRow().TotalSectors;
  // Step up; stop at the largest sector number rather than wrap around.
  while (readable(p)) {
    if (p == kLargest) break;
    p = p + 1000000 > kLargest ? kLargest : p + 1000000;
  }
  std::int64_t lo = 0, hi = p, mid = 0;
  while (lo <= hi) {
    mid = (lo + hi) / 2;
    if (readable(mid)) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  while (!readable(mid)) {
    // Nothing reads at all: keep the table's size.
    if (mid == 0) return;
    --mid;
  }
  if (mid - 1 < 0) return;
  run.LastSector = static_cast<std::int32_t>(mid - 1);
}
