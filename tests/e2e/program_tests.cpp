// The program as a user starts it: settings in the environment, a script of
// user actions, the transcript, the log file and the exit status.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "../support/support.h"

namespace fs = std::filesystem;
using testsupport::ReadText;
using testsupport::WriteText;

namespace {

struct Outcome {
  int status = -1;
  std::string transcript;
  std::string errors;
  std::string log;  // "<no log>" when there is none
};

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/spindlex-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs the program in the test's folder; the machine and script are
  // written there first unless empty.
  Outcome Run(const std::string& machine, const std::string& script, bool keepLog = false,
              const char* devices = nullptr, bool desktop = false) {
    if (!machine.empty()) WriteText(folder_ / "machine.json", machine);
    WriteText(folder_ / "script", script);
    if (!keepLog) fs::remove(folder_ / "spindlex.log");
    pid_t child = fork();
    if (child == 0) {
      if (chdir(folder_.c_str()) != 0) _exit(127);
      if (devices) {
        unsetenv("SPINDLEX_MACHINE");
        setenv("SPINDLEX_DEVICES", devices, 1);
      } else {
        setenv("SPINDLEX_MACHINE", "machine.json", 1);
      }
      if (desktop) {
        unsetenv("SPINDLEX_UI");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("SPINDLEX_SCREENSHOTS", ".", 1);
      } else {
        setenv("SPINDLEX_UI", "headless", 1);
      }
      setenv("SPINDLEX_SCRIPT", "script", 1);
      if (!freopen("transcript", "w", stdout) || !freopen("errors", "w", stderr)) _exit(127);
      execl(SPINDLEX_BINARY, "spindlex", static_cast<char*>(nullptr));
      _exit(127);
    }
    Outcome outcome;
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.transcript = ReadText(folder_ / "transcript");
    outcome.errors = ReadText(folder_ / "errors");
    // A log that is a link (to /dev/full) is not read: it would never end.
    if (!fs::is_symlink(folder_ / "spindlex.log")) outcome.log = ReadText(folder_ / "spindlex.log");
    return outcome;
  }

  fs::path folder_;
};

constexpr const char* kHalted = "dialog mtError \"Read or write error, test halted.\" [OK] -> OK\n";

std::string Disk(const std::string& extra) {
  return R"({ "drives": [ { "sectors": 2000000,
      "geometry": { "cylinders": 2000000, "tracksPerCylinder": 1, "sectorsPerTrack": 1 })" +
         extra + " } ] }";
}

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

}  // namespace

TEST_F(Program, AFailedTransferEndsTheProgramWithItsMessage) {
  struct Case {
    const char* where;
    std::string extra;
    bool resultsShown;
  } cases[] = {
      {"the first access read", R"(, "bad": [[1957552, 1]])", false},
      {"a burst read", R"(, "bad": [[150, 1]])", false},
      {"the read sweep", R"(, "bad": [[655500, 1]])", true},
  };
  for (const Case& c : cases) {
    Outcome o = Run(Disk(c.extra), "click Button2\n");
    EXPECT_EQ(o.status, 0) << c.where;
    EXPECT_EQ(o.log, "Read/write error.\r\n") << c.where;
    EXPECT_TRUE(Has(o.transcript, std::string("caption fg.Button1 \"&Ok\"\n") + kHalted)) << c.where << o.transcript;
    EXPECT_EQ(Has(o.transcript, "show fg"), c.resultsShown) << c.where;
    // Nothing runs after the message: the transcript ends with it.
    EXPECT_EQ(o.transcript.substr(o.transcript.size() - std::string(kHalted).size()), kHalted) << c.where;
  }
}

TEST_F(Program, TheSmallFloppyReadsButCannotBeWritten) {
  // 1,440 sectors: the last zone's reads end at sector 1,437, its closing
  // write-sweep read would end at 1,501.
  Outcome o = Run(R"({ "floppies": { "A": { "sectors": 1440,
      "geometry": { "cylinders": 80, "tracksPerCylinder": 2, "sectorsPerTrack": 9, "mediaType": 5 } } } })",
                  "answer Yes\ncheck cbwrite\nclick Button2\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.log, "Read/write error.\r\n");
  EXPECT_TRUE(Has(o.transcript, "point Series1 224 "));  // all eight read zones
  EXPECT_TRUE(Has(o.transcript, kHalted));
}

TEST_F(Program, ALogThatCannotBeCreatedEndsTheProgramBeforeAnyRead) {
  fs::create_directory(folder_ / "spindlex.log");
  Outcome o = Run(Disk(""), "click Button2\n", true);
  EXPECT_EQ(o.status, 0);
  EXPECT_TRUE(Has(o.transcript, "dialog mtError \"Error opening spindlex.log\" [OK] -> OK\n"));
  EXPECT_FALSE(Has(o.transcript, "Testing random access speed."));
  EXPECT_TRUE(fs::is_directory(folder_ / "spindlex.log"));
}

TEST_F(Program, ALogLineThatCannotBeWrittenEndsTheRunNotTheProgram) {
  fs::create_symlink("/dev/full", folder_ / "spindlex.log");
  Outcome o = Run(Disk(""),
                  "click Button2\nwait Button1 \"&Ok\"\nclick Button1\nwait Button2 \"Run Test\"\n"
                  "click Button2\nwait Button1 \"&Ok\"\n",
                  true);
  EXPECT_EQ(o.status, 0);
  const std::string error = "dialog mtError \"Error writing spindlex.log: No space left on device.\" [OK] -> OK\n";
  std::size_t first = o.transcript.find(error);
  ASSERT_NE(first, std::string::npos) << o.transcript;
  // The program went on: a second run came and failed the same way.
  EXPECT_NE(o.transcript.find(error, first + 1), std::string::npos);
  EXPECT_TRUE(Has(o.transcript, "caption fg.Button1 \"&Ok\"\n" + error));
  EXPECT_TRUE(Has(o.transcript, "enabled fm.Button2 true"));
}

TEST_F(Program, AnUnsupportedDeviceLeavesTheOldLogAlone) {
  WriteText(folder_ / "spindlex.log", "from an earlier run\r\n");
  Outcome o = Run(R"({ "platform": "win95", "portDriver": { "units": [
      { "type": 0, "capacity": 100000, "devNode": 1, "flags": 4 } ] },
      "registry": { "HKEY_DYN_DATA\\Config Manager\\Enum\\00000001": { "HardWareKey": "K" },
                    "HKEY_LOCAL_MACHINE\\Enum\\K": { } } })",
                  "click Button2\n", true);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.log, "from an earlier run\r\n");
  EXPECT_TRUE(Has(o.transcript, "dialog mtError \"Device not supported (1).\" [OK] -> OK\n"));
}

TEST_F(Program, AWholeTestThroughThePortDriver) {
  const std::string machine = R"({ "platform": "win95", "portDriver": { "units": [
      { "type": 0, "capacity": 4259840, "name": "PORT DISK", "devNode": 1, "maxTransfer": 4096,
        "drive": { "sectors": 4259840, "timing": { "readStart": 200, "readEnd": 200 } } } ] },
      "registry": { "HKEY_DYN_DATA\\Config Manager\\Enum\\00000001": { "HardWareKey": "K" },
                    "HKEY_LOCAL_MACHINE\\Enum\\K": { } } })";
  Outcome o = Run(machine, "answer Yes\ncheck cbwrite\nclick Button2\nwait Button1 \"&Ok\"\n");
  EXPECT_EQ(o.status, 0) << o.errors;
  EXPECT_TRUE(Has(o.transcript, "list cbdrive \"(Read/Write) PORT DISK\""));
  EXPECT_TRUE(Has(o.log, "Drive: PORT DISK\r\n"));
  EXPECT_TRUE(Has(o.log, "64 zones to be tested (32768kb zones).\r\n"));
  EXPECT_TRUE(Has(o.log, "\r\nWrite speeds\r\n"));
  EXPECT_TRUE(Has(o.log, "Average read speed: 5000\r\n"));
}

TEST_F(Program, ACompletionThatNeverComesHaltsTheRun) {
  Outcome o = Run(R"({ "platform": "win95", "portDriver": { "units": [
      { "type": 0, "capacity": 100000, "devNode": 1, "completion": "never" } ] },
      "registry": { "HKEY_DYN_DATA\\Config Manager\\Enum\\00000001": { "HardWareKey": "K" },
                    "HKEY_LOCAL_MACHINE\\Enum\\K": { } } })",
                  "click Button2\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.log, "Read/write error.\r\n");
  EXPECT_TRUE(Has(o.transcript, kHalted));
}

TEST_F(Program, BadSettingsStopBeforeAnythingOpens) {
  struct Case {
    std::string machine, script, error;
  } cases[] = {
      {R"({ "drives": [ { "sectors": -5 } ] })", "", "machine.json: drives[0].sectors:"},
      {R"({ "drives": [ )", "", "machine.json: line"},
      {Disk(""), "click Button2\nfly away\n", "script:2: unknown action \"fly\""},
  };
  for (const Case& c : cases) {
    Outcome o = Run(c.machine, c.script);
    EXPECT_EQ(o.status, 2) << c.error;
    EXPECT_EQ(o.transcript, "") << c.error;
    EXPECT_TRUE(Has(o.errors, c.error)) << o.errors;
    EXPECT_EQ(std::count(o.errors.begin(), o.errors.end(), '\n'), 1) << o.errors;
    EXPECT_EQ(o.log, "<no log>");
  }
  fs::remove(folder_ / "machine.json");
  Outcome missing = Run("", "");
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(Has(missing.errors, "machine.json")) << missing.errors;
  // This computer's devices: an entry that is not there, and a folder.
  for (std::string devices : {std::string("/no/such/disk.img"), folder_.string()}) {
    Outcome o = Run("", "", false, devices.c_str());
    EXPECT_EQ(o.status, 2) << devices;
    EXPECT_TRUE(Has(o.errors, "SPINDLEX_DEVICES") && Has(o.errors, devices)) << o.errors;
    EXPECT_EQ(o.transcript, "");
  }
}

#ifdef SPINDLEX_QT
TEST_F(Program, TheDesktopPlaysAScriptAndSavesItsWindows) {
  Outcome o = Run(Disk(""), "answer Yes\ncheck cbwrite\nclick Button2\nwait Button1 \"&Ok\"\n", false, nullptr, true);
  EXPECT_EQ(o.status, 0) << o.errors;
  EXPECT_EQ(o.transcript, "");  // only the headless front end writes one
  std::vector<std::string> lines;
  std::stringstream log(o.log);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u + 30 + 3 + 30) << o.log;
  EXPECT_EQ(lines[4], "30 zones to be tested (32768kb zones).\r");
  for (const char* window : {"fm.png", "fg.png"}) {
    EXPECT_GT(fs::exists(folder_ / window) ? fs::file_size(folder_ / window) : 0, 1000u) << window;
  }
}
#endif

TEST_F(Program, NoDriveEndsWithTheStartUpBox) {
  Outcome o = Run(R"({ "drives": [] })", "");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.transcript, "box \"ZIZADU\" \"Error opening RERODE.VXD.\" [OK] -> OK\n");
}
