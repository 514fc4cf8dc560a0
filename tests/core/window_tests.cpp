// The two windows through the scripted front end.
#include <gtest/gtest.h>

#include "fixture.h"
#include "tee.h"
#include "ui/ufg.h"
#include "ui/zodu1.h"

namespace {

// A fixed drive with letters CD, a fixed drive without letters and a
// removable drive with letter E, as the port driver reports them.
std::string ThreeDrives() {
  std::string units, registry;
  const char* names[] = {"FIXED ONE", "FIXED TWO", "REMOVABLE"};
  const char* letters[] = {"\"CurrentDriveLetterAssignment\": \"CD\"", "", "\"CurrentDriveLetterAssignment\": \"E\""};
  for (int i = 0; i < 3; ++i) {
    units += std::string(i ? "," : "") + R"({ "type": 0, "capacity": 100000, "devNode": )" + std::to_string(i + 1) +
             R"(, "name": ")" + names[i] + R"(" })";
    registry += std::string(i ? "," : "") + R"("HKEY_DYN_DATA\\Config Manager\\Enum\\0000000)" +
                std::to_string(i + 1) + R"(": { "HardWareKey": "K)" + std::to_string(i) + R"(" },
        "HKEY_LOCAL_MACHINE\\Enum\\K)" + std::to_string(i) + R"(": { )" + letters[i] + " }";
  }
  return R"({ "platform": "win95", "portDriver": { "units": [)" + units + R"(] }, "registry": {)" + registry +
         R"(}, "volumes": { "C": { "driveType": 3 }, "E": { "driveType": 2, "totalClusters": 20000 } } })";
}

const char* kRefusal = "dialog mtInformation \"Write test is only available on non-partitioned (blank) drives!\" [OK] -> OK\n";
const char* kRemovable =
    "dialog mtInformation \"This is a removable drive.  Write tests will destroy data written on this disk. "
    "Continue?\" [Yes,No] -> ";
const char* kFixed =
    "dialog mtInformation \"Write tests will only be performed on non-partitioned hard drives.  If you have a drive "
    "that is fully partitioned with NTFS, Unix, Linux, or any other non-DOS operating system the data will be "
    "destroyed.  Continue?\" [Yes,No] -> ";

}  // namespace

TEST(MainWindow, ListsEveryDriveWithItsAccess) {
  ProgramRun run = RunProgram(ThreeDrives(), "");
  EXPECT_EQ(run.transcript.substr(0, run.transcript.find("index")),
            "clear cbdrive\n"
            "list cbdrive \"(Read Only) CD: FIXED ONE\"\n"
            "list cbdrive \"(Read/Write) FIXED TWO\"\n"
            "list cbdrive \"(Read/Write) REMOVABLE\"\n");
  EXPECT_EQ(run.log, "<no log>");
}

TEST(MainWindow, WriteTestWarnings) {
  struct Case {
    std::string script;
    std::string dialogs;
    bool checked;
  } cases[] = {
      {"check cbwrite", kRefusal, false},
      {"select 3\nanswer No\ncheck cbwrite", std::string(kRemovable) + "No\n", false},
      {"select 3\ncheck cbwrite", std::string(kRemovable) + "No\n", false},  // no answer: No
      {"select 3\nanswer Yes\ncheck cbwrite", std::string(kRemovable) + "Yes\n", true},
      {"select 2\nanswer Yes\ncheck cbwrite", std::string(kFixed) + "Yes\n", true},
      {"select 2\nanswer No\ncheck cbwrite", std::string(kFixed) + "No\n", false},
      // A change of drive unchecks the box, also from one confirmed writable drive to another.
      {"select 2\nanswer Yes\ncheck cbwrite\nselect 3", std::string(kFixed) + "Yes\n", false},
  };
  for (const Case& c : cases) {
    ProgramRun run = RunProgram(ThreeDrives(), c.script + "\nwait cbwrite \"Enable write test\"\n");
    std::string dialogs;
    for (std::size_t at = run.transcript.find("dialog"); at != std::string::npos;
         at = run.transcript.find("dialog", at + 1)) {
      dialogs += run.transcript.substr(at, run.transcript.find('\n', at) + 1 - at);
    }
    EXPECT_EQ(dialogs, c.dialogs) << c.script;
    EXPECT_EQ(fm->cbwrite->Checked(), c.checked) << c.script;
  }
}

TEST(MainWindow, RunTestRefusesADriveWithoutUsableMedia) {
  struct Case {
    int sectorSize;
    int sectors;
    bool runs;
  } cases[] = {{512, 100000, true},  {1536, 100000, true}, {2048, 100000, true},
               {4096, 100000, false}, {520, 100000, false}, {0, 100000, false}, {512, 0, false}};
  for (const Case& c : cases) {
    std::string json = R"({ "drives": [ { "sectors": 100000, "sectorSize": )" +
                       std::to_string(c.sectorSize ? c.sectorSize : 512) +
                       R"(, "geometry": { "cylinders": )" + std::to_string(c.sectors) +
                       R"(, "tracksPerCylinder": 1, "sectorsPerTrack": 1, "bytesPerSector": )" +
                       std::to_string(c.sectorSize) + " } } ] }";
    ProgramRun run = RunProgram(json, "click Button2\n");
    bool refused = run.transcript.find("dialog mtInformation \"No media in drive, load media, quit Spindlex, and "
                                       "start again.\" [OK] -> OK") != std::string::npos;
    bool ran = run.transcript.find("caption fm.Label3 \"Testing random access speed.\"") != std::string::npos;
    EXPECT_EQ(refused, !c.runs) << c.sectorSize << " " << c.sectors;
    EXPECT_EQ(ran, c.runs) << c.sectorSize << " " << c.sectors;
  }
}

TEST(MainWindow, OptionsAreLockedDuringARun) {
  ProgramRun run = RunProgram(R"({ "drives": [ { "sectors": 4259840,
      "geometry": { "cylinders": 4259840, "tracksPerCylinder": 1, "sectorsPerTrack": 1 } } ] })",
                              "click Button2\nwait Series1 2\ncheck cbSizeCheck\nwait Button1 \"&Ok\"\n"
                              "click Button1\ncheck cbSizeCheck\n");
  EXPECT_NE(run.transcript.find("script 3: cbSizeCheck cannot be reached"), std::string::npos);
  EXPECT_TRUE(fm->cbSizeCheck->Checked());  // once the run is over
}

TEST(ResultsWindow, ButtonOneCancelsOrReturns) {
  UseMachine(R"({ "drives": [ { "sectors": 100000 } ] })");
  UseScript("");
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  fg->Show();
  fm->Hide();
  ReturnWindow = fm;
  fg->Button1Click(fg->Button1);  // "Cancel"
  EXPECT_TRUE(fg->CancelRequested);
  EXPECT_TRUE(fg->Visible());
  for (const char* caption : {"&Ok", "cancel", "Cancel "}) {
    fg->CancelRequested = false;
    fg->Show();
    fm->Hide();
    fg->Button1->SetCaption(caption);
    fg->Button1Click(fg->Button1);
    EXPECT_FALSE(fg->CancelRequested) << caption;
    EXPECT_FALSE(fg->Visible()) << caption;
    EXPECT_TRUE(fm->Visible()) << caption;
  }
}

TEST(Charts, RefuseAMaximumBelowTheMinimumAndANegativeIncrement) {
  UseMachine(R"({ "drives": [ { "sectors": 100000 } ] })");
  Application->CreateForm(fg);
  TChartAxis& axis = fg->Chart2->BottomAxis();
  EXPECT_THROW(axis.SetMaximum(-1), ETeeError);
  EXPECT_THROW(axis.SetMinimum(26), ETeeError);
  EXPECT_THROW(fg->Chart1->LeftAxis().SetIncrement(-50), ETeeError);
  EXPECT_EQ(axis.Maximum(), 25);
  EXPECT_EQ(fg->Chart1->LeftAxis().Increment(), 500);
  EXPECT_EQ(FormatFloat("#,##0.#ms", 12.46), "12.5ms");
  EXPECT_EQ(FormatFloat("#,##0.#mbps", 19.2036), "19.2mbps");
  EXPECT_EQ(FormatFloat("#,##0.#mbps", 1234.0), "1,234mbps");
  EXPECT_EQ(FormatFloat("#,##0.#ms", 0.04), "0ms");
}
