// The phases of a test run; each works on the run's RunState.
#pragma once

#include "runstate.h"
#include "windows.h"

class TChartSeries;

constexpr std::uint32_t AccessSeed = 16922403;  // 0x01023723

// The high-resolution counter, in ticks.
std::int64_t ReadCounter();

void PlanZones(RunState& run);
// The driver's largest transfer as a run uses it: -1 (no limit) and values
// above 65,536 give 65,536; values below 32,768 give 32,768.
std::int32_t ClampMaxTransfer(std::int32_t bytes);
// The 256 access positions for a drive whose last sector is lastSector.
void AccessPositions(std::int32_t lastSector, std::int32_t positions[256]);
void MeasureAccessTime(RunState& run);
void MeasureBurst(RunState& run);
void SweepZones(RunState& run, bool IsRead, TChartSeries* Series);
void ProbeDriveSize(RunState& run);

DWORD IdleThread(void* runNumber);
// Starts this run's counting thread; returns the run's number.
std::uint32_t StartIdleThread();
// Tells this run's counting thread to stop.
void StopIdleThread();
void MeasureCpuLoad(RunState& run);
// The utilization in percent from the best idle rate, or a negative value
// when it cannot be measured.
double CpuUtilization(double bestIdleRate, double sweepSeconds, std::int64_t* idleDuringSweep);

void WriteSummary(RunState& run);
