// The processor load of the sweeps, from how far an idle-priority thread
// could count during their timed transfers compared with an idle second.
#include "../support/WinGen.h"
#include "../ui/ufg.h"
#include "phases.h"

namespace {

// Run numbers: the thread of run n must not count on once run n has
// stopped it, even when it first gets the processor after that.
std::atomic<std::uint32_t> StartedRun{0};
std::atomic<std::uint32_t> StoppedRun{0};

}  // namespace

DWORD IdleThread(void* runNumber) {
  const auto run = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(runNumber));
  if (StoppedRun.load() >= run) return 0;
  IdleCounter.store(0, std::memory_order_relaxed);
  IdleStop.store(false);
  if (StoppedRun.load() >= run) return 0;
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
  // One increment and one test per turn, the same loop during the sweeps
  // and the calibration. The counter has one writer, so no locked add.
  while (!IdleStop.load(std::memory_order_relaxed)) {
    IdleCounter.store(IdleCounter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  }
  return 0;
}

std::uint32_t StartIdleThread() {
  const std::uint32_t run = StartedRun.fetch_add(1) + 1;
  HANDLE thread = CreateThread(nullptr, 0, &IdleThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(run)),
                               0, nullptr);
  if (thread) CloseHandle(thread);
  return run;
}

void StopIdleThread() {
  StoppedRun.store(StartedRun.load());
  IdleStop.store(true);
}

double CpuUtilization(double bestIdleRate, double sweepSeconds, std::int64_t* idleDuringSweep) {
  const double expected = static_cast<double>(static_cast<long double>(bestIdleRate) * sweepSeconds);
  if (!(expected > 0)) return -1;
  if (static_cast<long double>(*idleDuringSweep) > expected) {
    *idleDuringSweep = RoundHalfEven(static_cast<long double>(expected) - 1);
  }
  return static_cast<double>(100 - static_cast<long double>(*idleDuringSweep) / expected * 100);
}

void MeasureCpuLoad(RunState& run) {
  fg->Label5->SetVisible(true);
  double best = 0.0;
  for (int n = 5; n >= 1; --n) {
    fg->Label5->SetCaption("Calculating CPU speed " + IntText(n));
    Application->ProcessMessages();
    run.CounterStart = ReadCounter();
    run.IdleSnapshot = IdleCounter.load(std::memory_order_relaxed);
    Sleep(1000);
    run.CounterEnd = ReadCounter();
    run.IdleSnapshot = IdleCounter.load(std::memory_order_relaxed) - run.IdleSnapshot;
    if (run.CounterEnd <= run.CounterStart) continue;
    const double rate = static_cast<double>(static_cast<long double>(run.IdleSnapshot) /
                                            (static_cast<long double>(run.CounterEnd - run.CounterStart) /
                                             run.CounterFrequency));
    if (rate > best) best = rate;
  }
  const double utilization = CpuUtilization(best, run.SweepSeconds, &run.IdleDuringSweep);
  // A thread that never got to count leaves nothing to compare with.
  fg->Label5->SetCaption(utilization < 0 ? "CPU utilization: not measurable"
                                         : "CPU utilization: " + FixedText(utilization, 1) + "%");
}
