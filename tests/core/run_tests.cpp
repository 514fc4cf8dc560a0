// Whole test runs on simulated drives with the virtual clock, where every
// tick is known.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

#include "bench/phases.h"
#include "drive/rerode.h"
#include "fixture.h"
#include "ui/ufg.h"
#include "ui/zodu1.h"

namespace {

// 64 zones of 65,536 sectors; reads at 200 ticks per KiB and writes at 250
// of a 1 MHz counter: every zone reads at 5,000 and writes at 4,000 KiB/s.
// An access read seeks (1,000) and moves half a KiB (100): 1.1 ms.
const char* kBlankDisk = R"({ "drives": [ { "sectors": 4259840, "identifier": "BLANK DISK",
    "geometry": { "cylinders": 4259840, "tracksPerCylinder": 1, "sectorsPerTrack": 1 },
    "timing": { "seek": 1000, "readStart": 200, "readEnd": 200, "writeStart": 250, "writeEnd": 250 } } ] })";

const char* kFullRun = R"(
answer Yes
check cbwrite
click Button2
wait Button1 "&Ok"
)";

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(TestRun, ReadAndWriteLogLineByLine) {
  ProgramRun run = RunProgram(kBlankDisk, kFullRun);
  std::vector<std::string> lines = LogLines(run.log);
  ASSERT_EQ(lines.size(), 10u + 2 * 64) << run.log;
  EXPECT_EQ(lines[0], "Spindlex version 2.61");
  EXPECT_EQ(lines[1], "Drive: BLANK DISK");
  EXPECT_EQ(lines[2], "Access time: 1.1ms");
  EXPECT_TRUE(std::regex_match(lines[3], std::regex(R"(CPU utilization: (\d+\.\d%|not measurable))"))) << lines[3];
  EXPECT_EQ(lines[4], "64 zones to be tested (32768kb zones).");
  for (int q = 0; q < 64; ++q) EXPECT_EQ(lines[5 + q], "5000") << q;
  EXPECT_EQ(lines[69], "Burst speed: 5000kps");
  EXPECT_EQ(lines[70], "Average read speed: 5000");
  EXPECT_EQ(lines[71], "");
  EXPECT_EQ(lines[72], "Write speeds");
  // The write times less one read each: the closing read is not counted.
  for (int q = 0; q < 64; ++q) EXPECT_EQ(lines[73 + q], "4000") << q;
  EXPECT_EQ(lines[137], "Average write speed: 4000");

  EXPECT_EQ(fg->Label3->Caption(), "Read speed - maximum 5000.0kps, minimum 5000.0kps, average 5000.0kps");
  EXPECT_EQ(fg->Label4->Caption(), "Write speed - maximum 4000.0kps, minimum 4000.0kps, average 4000.0kps");
  EXPECT_EQ(fg->Series1->Count(), 64);
  EXPECT_EQ(fg->Series4->Count(), 64);
  EXPECT_EQ(fg->Series1->Points()[32].Label, "1.00gb");  // 32 zones of 32 MiB: one unit
  EXPECT_EQ(fg->Series1->Points()[63].X, 63 * 32);
  EXPECT_EQ(fg->Chart1->BottomAxis().Maximum(), 63 * 32);
  // 5,000 / 64 / 4 rounds to 20 and snaps to 50 at the first zone.
  EXPECT_EQ(fg->Chart1->LeftAxis().Increment(), 50);
  EXPECT_EQ(Count(run.transcript, "caption fg.Label5 \"Calculating CPU speed "), 5);
  EXPECT_NE(run.transcript.find("caption fg.Button1 \"&Ok\""), std::string::npos);
  // The options come back once the run returns.
  EXPECT_TRUE(fm->cbdrive->Enabled());
  EXPECT_TRUE(fm->Button2->Enabled());
}

TEST(TestRun, SummaryRaisesTheBurstToTheFastestZone) {
  // Reads get faster towards the end of the drive: the burst near the
  // start is slower than the last zones.
  ProgramRun run = RunProgram(R"({ "drives": [ { "sectors": 4259840,
      "geometry": { "cylinders": 4259840, "tracksPerCylinder": 1, "sectorsPerTrack": 1 },
      "timing": { "readStart": 400, "readEnd": 100 } } ] })",
                              "click Button2\nwait Button1 \"&Ok\"\n");
  std::vector<std::string> lines = LogLines(run.log);
  ASSERT_EQ(lines.size(), 7u + 64);
  double fastest = 0;
  for (int q = 0; q < 64; ++q) fastest = std::max(fastest, fg->Series1->YValue(q));
  EXPECT_EQ(lines[69], "Burst speed: " + std::to_string(static_cast<int>(fastest)) + "kps");
  ASSERT_EQ(fg->Series3->Count(), 1);
  EXPECT_DOUBLE_EQ(fg->Series3->YValue(0), fastest / 1024);
  EXPECT_EQ(lines.back().rfind("Average read speed: ", 0), 0u);
}

TEST(TestRun, CancelAfterAZone) {
  ProgramRun run = RunProgram(kBlankDisk, "answer Yes\ncheck cbwrite\nclick Button2\nwait Series1 3\n"
                                          "click Button1\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(run.log, "User cancel.\r\n");
  EXPECT_EQ(fg->Series1->Count(), 3);
  EXPECT_EQ(fg->Series4->Count(), 0);
  EXPECT_EQ(fg->Label3->Caption(), "");
  EXPECT_EQ(fg->Label5->Caption(), "");
  EXPECT_EQ(fg->Button1->Caption(), "&Ok");
  EXPECT_TRUE(fg->Visible());
  EXPECT_FALSE(fm->Visible());
  EXPECT_EQ(Count(run.transcript, "Calculating CPU speed"), 0);
}

TEST(TestRun, CancelAfterTheLastZoneStillSkipsTheRest) {
  ProgramRun run = RunProgram(kBlankDisk, "click Button2\nwait Series1 64\nclick Button1\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(run.log, "User cancel.\r\n");
  EXPECT_EQ(fg->Series1->Count(), 64);
}

TEST(TestRun, CancelDuringTheProcessorMeasurementLeavesAnEmptyLog) {
  ProgramRun run = RunProgram(kBlankDisk, "click Button2\nwait Label5 \"Calculating CPU speed 3\"\n"
                                          "click Button1\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(run.log, "");
  EXPECT_EQ(fg->Label5->Caption().rfind("CPU utilization: ", 0), 0u);
  EXPECT_EQ(fg->Label3->Caption(), "");
  EXPECT_EQ(fg->Button1->Caption(), "&Ok");
}

TEST(TestRun, OkBringsTheMainWindowBackForAnotherRun) {
  // The first drive answers in 30 ms, the second in 10 ms: the access-time
  // axis is raised to 39 and stays there.
  ProgramRun run = RunProgram(R"({ "drives": [
      { "sectors": 2000000, "timing": { "seek": 29984 } },
      { "sectors": 2000000, "timing": { "seek": 9984 } } ] })",
                              "click Button2\nwait Button1 \"&Ok\"\nclick Button1\nselect 2\nclick Button2\n"
                              "wait Button1 \"&Ok\"\n");
  EXPECT_NE(run.transcript.find("chart Chart2 left auto step 5 bottom 0..39 step 0"), std::string::npos)
      << run.transcript;
  EXPECT_DOUBLE_EQ(fg->Chart2->BottomAxis().Maximum(), 39.0);
  EXPECT_EQ(fg->Series2->YValue(0), 10.0);
  EXPECT_EQ(Count(run.transcript, "show fm"), 2);
}

TEST(TestRun, TimedIntervalsHoldTransfersOnly) {
  UseMachine(kBlankDisk);
  CallRecorder recorder;
  UseScript(kFullRun);
  ProgramRun ignored;
  {
    char folder[] = "/tmp/spindlex-trace-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    extern void SpindlexMain();
    SpindlexMain();
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
  }
  const std::set<std::string> transfers = {"SetFilePointer", "ReadFile", "WriteFile"};
  int intervals = 0, sleeps = 0;
  bool inside = false;
  for (const std::string& call : recorder.calls()) {
    if (call == "QueryPerformanceCounter") {
      inside = !inside;
      intervals += inside;
    } else if (inside) {
      // The processor calibration sleeps inside its second; nothing else may happen.
      if (call == "Sleep") {
        ++sleeps;
      } else {
        EXPECT_TRUE(transfers.count(call)) << call << " inside timed interval " << intervals;
      }
    }
  }
  EXPECT_FALSE(inside);
  EXPECT_EQ(intervals, 1 + 32 + 64 + 64 + 5);
  EXPECT_EQ(sleeps, 5);
}

TEST(TestRun, AZeroTimeZoneShowsTheTimingErrorAndGetsNoPoint) {
  ProgramRun run = RunProgram(R"({ "drives": [ { "sectors": 4259840,
      "geometry": { "cylinders": 4259840, "tracksPerCylinder": 1, "sectorsPerTrack": 1 },
      "timing": { "seek": 1000, "readStart": 0, "readEnd": 0 } } ] })",
                              "click Button2\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(Count(run.transcript, "dialog mtError \"Error in read timing.\" [OK] -> OK"), 64);
  EXPECT_EQ(fg->Series1->Count(), 0);
  std::vector<std::string> lines = LogLines(run.log);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[6], "Average read speed: 0");
}
