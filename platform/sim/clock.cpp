#include "clock.h"

#include <sys/prctl.h>

#include <limits>
#include <thread>

namespace {

constexpr std::int64_t kNanosPerSecond = 1000000000;

// value * numerator / denominator without overflowing in between.
std::int64_t Scale(std::int64_t value, std::int64_t numerator, std::int64_t denominator) {
  __int128 wide = static_cast<__int128>(value) * numerator / denominator;
  constexpr __int128 kMax = std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(wide > kMax ? kMax : wide);
}

}  // namespace

SimClock::SimClock(bool real, std::int64_t frequency)
    : real_(real), frequency_(frequency), origin_(std::chrono::steady_clock::now()) {
  // The default timer slack (50 us) would stretch every simulated transfer.
  if (real_) prctl(PR_SET_TIMERSLACK, 1UL);
}

std::int64_t SimClock::Now() const {
  if (!real_) return virtual_.load();
  std::int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - origin_).count();
  return Scale(ns, frequency_, kNanosPerSecond);
}

std::int64_t SimClock::TicksOfMilliseconds(DWORD milliseconds) const {
  return Scale(milliseconds, frequency_, 1000);
}

void SimClock::Spend(TimePoint since, std::int64_t ticks) {
  if (ticks <= 0) return;
  if (!real_) {
    virtual_ += ticks;
    return;
  }
  // Sleep most of the way, then spin: sleeps overshoot by scheduler slices.
  auto deadline = since + std::chrono::nanoseconds(Scale(ticks, kNanosPerSecond, frequency_));
  auto coarse = deadline - std::chrono::microseconds(200);
  if (std::chrono::steady_clock::now() < coarse) std::this_thread::sleep_until(coarse);
  while (std::chrono::steady_clock::now() < deadline) {
  }
}

void SimClock::Sleep(DWORD milliseconds) {
  if (real_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  } else {
    virtual_ += TicksOfMilliseconds(milliseconds);
  }
}

void SimClock::WaitedOut(DWORD milliseconds) {
  if (!real_) virtual_ += TicksOfMilliseconds(milliseconds);
}
