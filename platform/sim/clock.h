// The simulated computer's high-resolution counter. Virtual: a number that
// moves only when the simulation spends time. Real: this computer's
// monotonic clock scaled to the machine's frequency, and spending time
// really takes it.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "windows.h"

class SimClock {
 public:
  SimClock(bool real, std::int64_t frequency);

  bool real() const { return real_; }
  std::int64_t frequency() const { return frequency_; }
  std::int64_t Now() const;

  using TimePoint = std::chrono::steady_clock::time_point;
  // Lets ticks pass, counted from since: a transfer's cost includes what
  // the transfer itself took in real time.
  void Spend(TimePoint since, std::int64_t ticks);
  void Sleep(DWORD milliseconds);
  // A wait that timed out after the given milliseconds (virtual mode).
  void WaitedOut(DWORD milliseconds);

 private:
  std::int64_t TicksOfMilliseconds(DWORD milliseconds) const;

  bool real_;
  std::int64_t frequency_;
  TimePoint origin_;
  std::atomic<std::int64_t> virtual_{0};  // the idle thread may read it
};
