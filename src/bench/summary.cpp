// The log of a completed run and the summary lines of the results window.
#include <algorithm>

#include "../drive/rerode.h"
#include "../support/WinGen.h"
#include "../ui/ufg.h"
#include "../ui/zodu1.h"
#include "phases.h"

namespace {

struct SpeedStats {
  double maximum = 0.0;
  double minimum = 1000000.0;
  std::int64_t sum = 0;
  std::int32_t zones = 0;
};

// Logs one line per zone of the series and gathers its statistics. A zone
// that got no point (a timing error) is left out.
SpeedStats LogZoneSpeeds(RunState& run, const TChartSeries& series) {
  SpeedStats stats;
  stats.zones = std::min(run.ZoneCount, static_cast<std::int32_t>(series.Count()));
  for (std::int32_t q = 1; q <= stats.zones; ++q) {
    const double v = series.YValue(q - 1);
    const std::int64_t rounded = RoundHalfEven(v);
    run.LogFile.WriteLine(std::to_string(rounded));
    stats.sum += rounded;
    if (v > stats.maximum) stats.maximum = v;
    if (v < stats.minimum) stats.minimum = v;
  }
  return stats;
}

long double Average(const SpeedStats& stats) {
  return stats.zones > 0 ? static_cast<long double>(stats.sum) / stats.zones : 0;
}

std::string SummaryText(const char* what, const SpeedStats& stats) {
  return std::string(what) + " speed - maximum " + FixedText(stats.maximum, 1) + "kps, minimum " +
         FixedText(stats.minimum, 1) + "kps, average " + FixedText(static_cast<double>(Average(stats)), 1) + "kps";
}

}  // namespace

void WriteSummary(RunState& run) {
  if (!run.TransferOk || fg->CancelRequested) return;
  const DriveRow& drive = CurrentRow();
  run.LogFile.WriteLine(fm->Caption());
  run.LogFile.WriteLine("Drive: " + drive.DriveName);
  run.LogFile.WriteLine("Access time: " + FixedText(run.AccessTimeMs, 1) + "ms");
  run.LogFile.WriteLine(fg->Label5->Caption());
  run.LogFile.WriteLine(std::to_string(run.ZoneCount) + " zones to be tested (" +
                        std::to_string(drive.SectorSize * run.ZoneSectors / 1024) + "kb zones).");

  const SpeedStats read = LogZoneSpeeds(run, *fg->Series1);
  if (run.BurstKBps < read.maximum) run.BurstKBps = read.maximum;
  fg->Label3->SetCaption(SummaryText("Read", read));
  run.LogFile.WriteLine("Burst speed: " + IntText(static_cast<std::int32_t>(RoundHalfEven(run.BurstKBps))) + "kps");
  fg->Series3->Clear();
  fg->Series3->AddXY(run.BurstKBps / 1024, run.BurstKBps / 1024, "", clTeeColor);
  fg->Label3->SetVisible(true);
  run.LogFile.WriteLine("Average read speed: " + std::to_string(RoundHalfEven(Average(read))));

  if (!fg->CancelRequested && fm->cbwrite->Checked() && run.TransferOk &&
      (drive.LetterText.empty() || drive.IsRemovable)) {
    run.LogFile.WriteLine("");
    run.LogFile.WriteLine("Write speeds");
    const SpeedStats write = LogZoneSpeeds(run, *fg->Series4);
    fg->Label4->SetCaption(SummaryText("Write", write));
    run.LogFile.WriteLine("Average write speed: " + std::to_string(RoundHalfEven(Average(write))));
    fg->Label4->SetVisible(true);
  }
}
