// The processor-load meter, the summary and log, and the size probe.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "bench/phases.h"
#include "drive/rerode.h"
#include "fixture.h"
#include "ui/ufg.h"
#include "ui/zodu1.h"

TEST(CpuLoad, UtilizationFromTheBestIdleSecond) {
  std::int64_t idle = 1500000000;
  EXPECT_DOUBLE_EQ(CpuUtilization(50000000.0, 40.0, &idle), 25.0);  // 2,000,000,000 expected
  idle = 2000000000;
  EXPECT_DOUBLE_EQ(CpuUtilization(50000000.0, 40.0, &idle), 0.0);
  idle = 2000000005;  // counted faster than any calibration second: clamped
  double clamped = CpuUtilization(50000000.0, 40.0, &idle);
  EXPECT_EQ(idle, 1999999999);
  EXPECT_GT(clamped, 0.0);
  EXPECT_LT(clamped, 0.05);
  idle = 10;
  EXPECT_LT(CpuUtilization(0.0, 40.0, &idle), 0);  // a thread that never counted: not measurable
}

TEST(CpuLoad, AThreadThatStartsAfterItsRunStoppedDoesNotCount) {
  std::uint32_t run = StartIdleThread();
  StopIdleThread();
  // The same run's thread, getting the processor only now.
  std::thread late([run] { IdleThread(reinterpret_cast<void*>(static_cast<std::uintptr_t>(run))); });
  late.join();  // returns at once instead of counting for the rest of the program
  EXPECT_TRUE(IdleStop.load());
}

TEST(CpuLoad, AWholeRunCountsAndStopsTheThread) {
  ProgramRun run = RunProgram(R"({ "drives": [ { "sectors": 4259840,
      "geometry": { "cylinders": 4259840, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })",
                              "click Button2\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(LogLines(run.log).size(), 7u + 64);
  EXPECT_TRUE(IdleStop.load());
  // A thread that read the flag just before it was set adds one more turn.
  std::int64_t before = IdleCounter.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(IdleCounter.load() - before, 1);
}

namespace {

// The summary of a run whose zones read at these speeds.
struct Summary {
  std::vector<std::string> lines;
  std::string readLabel;
  double burstBar;
};

Summary Summarise(const std::vector<double>& speeds, double burst) {
  UseMachine(R"({ "drives": [ { "sectors": 4259840, "identifier": "DISK" } ] })");
  DiscoverDrives(true, "0A");
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  SelectDrive(1);
  RunState run;
  run.TransferOk = true;
  run.ZoneCount = static_cast<std::int32_t>(speeds.size());
  run.ZoneSectors = 65536;
  run.AccessTimeMs = 12.25;
  run.BurstKBps = burst;
  for (std::size_t q = 0; q < speeds.size(); ++q) fg->Series1->AddXY(q * 32.0, speeds[q], "", clTeeColor);
  fg->Label5->SetCaption("CPU utilization: 3.5%");
  // Each test process writes a log of its own: tests run side by side.
  char name[] = "/tmp/spindlex-summary-XXXXXX";
  int fd = mkstemp(name);
  EXPECT_GE(fd, 0);
  close(fd);
  std::filesystem::path path = name;
  EXPECT_TRUE(run.LogFile.Rewrite(path.string()));
  WriteSummary(run);
  run.LogFile.Close();
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(path);
  return {LogLines(text.str()), fg->Label3->Caption(), fg->Series3->YValue(0)};
}

}  // namespace

TEST(Summary, EightEqualZones) {
  Summary s = Summarise(std::vector<double>(8, 12000), 20000);
  ASSERT_EQ(s.lines.size(), 15u);
  EXPECT_EQ(s.lines[0], "Spindlex version 2.61");
  EXPECT_EQ(s.lines[1], "Drive: DISK");
  EXPECT_EQ(s.lines[2], "Access time: 12.3ms");
  EXPECT_EQ(s.lines[3], "CPU utilization: 3.5%");
  EXPECT_EQ(s.lines[4], "8 zones to be tested (32768kb zones).");
  for (int q = 0; q < 8; ++q) EXPECT_EQ(s.lines[5 + q], "12000");
  EXPECT_EQ(s.lines[13], "Burst speed: 20000kps");  // above every zone: unchanged
  EXPECT_EQ(s.lines[14], "Average read speed: 12000");
  EXPECT_EQ(s.readLabel, "Read speed - maximum 12000.0kps, minimum 12000.0kps, average 12000.0kps");
  EXPECT_TRUE(fg->Label3->Visible());
  EXPECT_FALSE(fg->Label4->Visible());
}

TEST(Summary, AveragesRoundHalfToEvenInTheLogAndKeepOneDecimalInTheLabel) {
  Summary s = Summarise({10, 10, 10, 10, 11, 11, 11, 11}, 0);  // 84 over 8: 10.5
  ASSERT_EQ(s.lines.size(), 15u);
  EXPECT_EQ(s.lines.back(), "Average read speed: 10");
  EXPECT_EQ(s.readLabel, "Read speed - maximum 11.0kps, minimum 10.0kps, average 10.5kps");
}

TEST(Summary, TheBurstIsRaisedToTheFastestZone) {
  Summary s = Summarise({9000, 12000, 11000, 10000, 9000, 9000, 9000, 9000}, 9000);
  ASSERT_EQ(s.lines.size(), 15u);
  EXPECT_EQ(s.lines[13], "Burst speed: 12000kps");
  EXPECT_DOUBLE_EQ(s.burstBar, 11.71875);
}

TEST(Summary, TheMinimumStartsAtAMillion) {
  Summary s = Summarise(std::vector<double>(8, 2000000), 0);
  EXPECT_EQ(s.readLabel, "Read speed - maximum 2000000.0kps, minimum 1000000.0kps, average 2000000.0kps");
}

namespace {

std::int32_t Probe(std::int64_t tableSectors, std::int64_t mediumSectors, const std::string& extra = "") {
  UseMachine(R"({ "drives": [ { "sectors": )" + std::to_string(mediumSectors) + R"(, "geometry": { "cylinders": )" +
             std::to_string(tableSectors) + R"(, "tracksPerCylinder": 1, "sectorsPerTrack": 1 })" + extra + " } ] }");
  DiscoverDrives(true, "0A");
  SelectDrive(1);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  RunState run;
  run.LastSector = CurrentRow().TotalSectors - 1;
  ProbeDriveSize(run);
  return run.LastSector;
}

}  // namespace

TEST(SizeProbe, FindsHowFarTheDriveReads) {
  const std::int64_t t = 3000000;
  EXPECT_EQ(Probe(t, t), t - 2);  // a right table: one below the last sector
  EXPECT_EQ(Probe(t, t + 2500001), t + 2499999);
  EXPECT_EQ(Probe(t, t, R"(, "bad": [[0, 3000000]])"), t - 1);  // nothing reads: the table's size stays
  // A drive that reads every sector number: the step-up stops at the largest one.
  EXPECT_EQ(Probe(2100000000, 2147483648LL), 2147483646);
}

TEST(SizeProbe, OnlyDrivesAboveTwoMillionSectorsWhenAsked) {
  struct Case {
    std::int64_t table;
    const char* script;
    const char* zones;
  } cases[] = {
      {2000000, "check cbSizeCheck\nclick Button2\nwait Button1 \"&Ok\"\n", "30 zones"},
      {2000001, "check cbSizeCheck\nclick Button2\nwait Button1 \"&Ok\"\n", "45 zones"},
      {2000001, "click Button2\nwait Button1 \"&Ok\"\n", "30 zones"},
  };
  for (const Case& c : cases) {
    ProgramRun run = RunProgram(R"({ "drives": [ { "sectors": 3000000, "geometry": { "cylinders": )" +
                                    std::to_string(c.table) + R"(, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })",
                                c.script);
    std::vector<std::string> lines = LogLines(run.log);
    ASSERT_GT(lines.size(), 4u);
    EXPECT_EQ(lines[4].substr(0, std::string(c.zones).size()), c.zones) << c.table << " " << c.script;
  }
}
