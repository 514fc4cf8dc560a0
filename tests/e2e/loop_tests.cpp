// The program on real block devices of this computer: loop devices that each
// test attaches to an image file in its own temporary folder and detaches
// afterwards. Needs root (losetup); each test says why when it skips.
//
// The program runs as a user starts it, with its transcript on a
// pseudo-terminal so that every line arrives as it is written: the processor
// load test samples the program's threads while the sweeps run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "../support/support.h"

namespace fs = std::filesystem;
using testsupport::Capture;
using testsupport::LoopDevice;
using testsupport::ReadText;
using testsupport::Shell;
using testsupport::WriteText;

namespace {

bool Has(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// FNV-1a over every byte of a file.
std::uint64_t Checksum(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::uint64_t hash = 14695981039346656037ull;
  std::vector<char> chunk(1 << 20);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash = (hash ^ static_cast<unsigned char>(chunk[i])) * 1099511628211ull;
    }
  }
  return hash;
}

// Bytes of the file actually stored (a sparse file's holes take none).
std::int64_t AllocatedBytes(const fs::path& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_blocks) * 512 : -1;
}

#define REQUIRE_LOOP(loop)                                                                         \
  if (!(loop).ok()) {                                                                              \
    std::printf("skipped: losetup could not attach a loop device here (it needs root)\n");        \
    GTEST_SKIP() << "losetup is not allowed here";                                                 \
  }

struct Outcome {
  int status = -1;
  std::string transcript;
  std::string errors;
  std::string log;  // "<no log>" when there is none
};

// Called with each transcript line as the program writes it, and the program's process id.
using LineWatch = std::function<void(const std::string& line, pid_t program)>;

class LoopDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "spindlex-loop-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    folder_ = name.data();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(folder_, ec);
  }

  // A sparse image of zeros.
  fs::path Image(const std::string& name, std::int64_t bytes) {
    fs::path path = folder_ / name;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) {
      EXPECT_EQ(ftruncate(fd, bytes), 0);
      close(fd);
    }
    return path;
  }

  // Runs the program in the test's folder on exactly these devices. Its
  // transcript goes to a pseudo-terminal, so the program writes it line by
  // line; `watch` sees each line as it comes.
  Outcome Run(const std::string& devices, const std::string& script, const LineWatch& watch = {}) {
    WriteText(folder_ / "script", script);
    fs::remove(folder_ / "spindlex.log");
    Outcome outcome;
    termios raw{};
    cfmakeraw(&raw);
    int terminal = -1;
    pid_t child = forkpty(&terminal, nullptr, &raw, nullptr);
    if (child < 0) {
      outcome.errors = std::string("forkpty: ") + std::strerror(errno);
      return outcome;
    }
    if (child == 0) {
      if (chdir(folder_.c_str()) != 0) _exit(127);
      unsetenv("SPINDLEX_MACHINE");
      setenv("SPINDLEX_DEVICES", devices.c_str(), 1);
      setenv("SPINDLEX_UI", "headless", 1);
      setenv("SPINDLEX_SCRIPT", "script", 1);
      if (!freopen("errors", "w", stderr)) _exit(127);
      execl(SPINDLEX_BINARY, "spindlex", static_cast<char*>(nullptr));
      _exit(127);
    }
    // A program that never ends is stopped, so that the test fails instead of hanging.
    const time_t giveUp = time(nullptr) + 600;
    std::string pending;
    for (;;) {
      pollfd p{terminal, POLLIN, 0};
      int ready = poll(&p, 1, 1000);
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        if (time(nullptr) > giveUp) {
          kill(child, SIGKILL);
          ADD_FAILURE() << "the program did not end; transcript so far:\n" << outcome.transcript << pending;
          break;
        }
        continue;
      }
      char chunk[4096];
      ssize_t got = read(terminal, chunk, sizeof chunk);
      if (got <= 0) break;  // EIO: the program has closed its side
      pending.append(chunk, static_cast<std::size_t>(got));
      for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        outcome.transcript += line + "\n";
        if (watch) watch(line, child);
      }
    }
    outcome.transcript += pending;
    close(terminal);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.errors = ReadText(folder_ / "errors");
    outcome.log = ReadText(folder_ / "spindlex.log");
    return outcome;
  }

  fs::path folder_;
};

// The log's lines; every line must end with CR LF.
std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line without CR LF at byte " << start;
    if (end == std::string::npos) break;
    std::string line = log.substr(start, end - start);
    EXPECT_EQ(line.find('\n'), std::string::npos) << "a bare line feed in \"" << line << "\"";
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// What a completed run's log says, its layout checked on the way.
struct LogFigures {
  int zones = 0;
  double utilization = -1;  // percent
  std::vector<long long> reads, writes;
};

LogFigures CheckLog(const std::string& log, const std::string& driveName, bool withWrites) {
  LogFigures figures;
  const std::vector<std::string> lines = LogLines(log);
  std::size_t at = 0;
  auto next = [&]() -> std::string { return at < lines.size() ? lines[at++] : "<end of log>"; };
  // The line must match; the first group's text, if any, goes to `group`.
  auto match = [&](const std::string& pattern, std::string* group = nullptr) {
    const std::string line = next();
    std::smatch found;
    bool ok = std::regex_match(line, found, std::regex(pattern));
    EXPECT_TRUE(ok) << "log line " << at << " \"" << line << "\" is not " << pattern;
    if (ok && group) *group = found[1].str();
    return ok;
  };
  auto speeds = [&](std::vector<long long>* into) {
    for (int q = 0; q < figures.zones; ++q) {
      std::string speed;
      if (match("(\\d+)", &speed)) {
        into->push_back(std::stoll(speed));
        EXPECT_GT(into->back(), 0) << "zone " << q + 1;
      }
    }
  };
  EXPECT_EQ(next(), "Spindlex version 2.61");
  EXPECT_EQ(next(), "Drive: " + driveName);
  match("Access time: \\d+\\.\\dms");
  std::string group;
  if (match("CPU utilization: (\\d+\\.\\d)%", &group)) figures.utilization = std::stod(group);
  if (match("(\\d+) zones to be tested \\(\\d+kb zones\\)\\.", &group)) figures.zones = std::stoi(group);
  EXPECT_GT(figures.zones, 0);
  speeds(&figures.reads);
  match("Burst speed: \\d+kps");
  match("Average read speed: \\d+");
  if (withWrites) {
    EXPECT_EQ(next(), "");
    EXPECT_EQ(next(), "Write speeds");
    speeds(&figures.writes);
    match("Average write speed: \\d+");
  }
  EXPECT_EQ(at, lines.size()) << "more lines than a run writes:\n" << log;
  return figures;
}

constexpr const char* kWriteRun = "answer Yes\ncheck cbwrite\nclick Button2\nwait Button1 \"&Ok\"\n";
constexpr const char* kReadRun = "check cbwrite\nclick Button2\nwait Button1 \"&Ok\"\n";

TEST_F(LoopDeviceTest, ABlankDeviceGetsTheWholeTestWithTheWriteSweep) {
  const fs::path image = Image("blank.img", 256ll << 20);
  LoopDevice loop(image);
  REQUIRE_LOOP(loop);
  if (!loop.DirectIo()) std::printf("note: the kernel runs %s without direct I/O\n", loop.path().c_str());
  const std::int64_t storedBefore = AllocatedBytes(image);

  Outcome o = Run(loop.path(), kWriteRun);
  ASSERT_EQ(o.status, 0) << o.errors << o.transcript;
  EXPECT_EQ(o.errors, "");
  // A loop device is named after its backing file.
  EXPECT_TRUE(Has(o.transcript, "list cbdrive \"(Read/Write) blank.img\"\n")) << o.transcript;
  EXPECT_TRUE(Has(o.transcript, "checked fm.cbwrite true\n"));
  EXPECT_TRUE(Has(o.transcript, "caption fg.Button1 \"&Ok\"\n"));
  LogFigures figures = CheckLog(o.log, "blank.img", true);
  EXPECT_EQ(figures.zones, 8) << "a 256 MiB drive is a small drive: eight zones";
  EXPECT_GE(figures.utilization, 0.0);
  EXPECT_LE(figures.utilization, 100.0);
  // The write sweep reached the backing file: its holes are filled now.
  loop.Detach();
  EXPECT_GT(AllocatedBytes(image), storedBefore) << "nothing was written to " << image;
}

TEST_F(LoopDeviceTest, ADeviceWithAFileSystemIsReadButNeverWritten) {
  const fs::path image = Image("ext4.img", 256ll << 20);
  if (!Shell("mkfs.ext4 -q -F " + image.string())) {
    std::printf("skipped: mkfs.ext4 is not available here\n");
    GTEST_SKIP() << "mkfs.ext4 failed";
  }
  const std::uint64_t before = Checksum(image);
  LoopDevice loop(image);
  REQUIRE_LOOP(loop);

  Outcome o = Run(loop.path(), kReadRun);
  ASSERT_EQ(o.status, 0) << o.errors << o.transcript;
  EXPECT_TRUE(Has(o.transcript, "list cbdrive \"(Read Only) Partitioned: ext4.img\"\n")) << o.transcript;
  // Checking the write test is refused at once and undone.
  EXPECT_TRUE(Has(o.transcript,
                  "checked fm.cbwrite true\n"
                  "dialog mtInformation \"Write test is only available on non-partitioned (blank) drives!\" [OK] -> OK\n"
                  "checked fm.cbwrite false\n"))
      << o.transcript;
  EXPECT_FALSE(Has(o.transcript, "point Series4 "));
  LogFigures figures = CheckLog(o.log, "ext4.img", false);
  EXPECT_EQ(figures.reads.size(), 8u);

  loop.Detach();
  EXPECT_EQ(Checksum(image), before) << "the image's bytes changed";
}

TEST_F(LoopDeviceTest, APartitionIsAcceptedWhereItsDiskIsPartitioned) {
  // A master boot record with one Linux partition from sector 2048 on; the
  // partition itself holds nothing.
  const fs::path image = Image("parted.img", 64ll << 20);
  unsigned char mbr[512] = {};
  unsigned char* entry = mbr + 446;
  entry[4] = 0x83;
  const std::uint32_t first = 2048, sectors = (64u << 20) / 512 - 2048;
  std::memcpy(entry + 8, &first, 4);
  std::memcpy(entry + 12, &sectors, 4);
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  {
    std::fstream file(image, std::ios::binary | std::ios::in | std::ios::out);
    file.write(reinterpret_cast<const char*>(mbr), sizeof mbr);
  }
  LoopDevice loop(image, true);
  REQUIRE_LOOP(loop);
  const std::string partition = loop.path() + "p1";
  // The kernel reads the table as the device is attached, unless it was
  // built without support for it.
  const std::string name = fs::path(partition).filename().string();
  if (!fs::exists("/sys/block/" + fs::path(loop.path()).filename().string() + "/" + name)) {
    std::printf("skipped: this kernel found no partition on %s\n", loop.path().c_str());
    GTEST_SKIP() << "no partition support in this kernel";
  }
  for (int tries = 0; tries < 50 && !fs::exists(partition); ++tries) usleep(100000);
  if (!fs::exists(partition)) {
    std::printf("skipped: no device node for %s\n", partition.c_str());
    GTEST_SKIP() << "no device node for the partition";
  }

  Outcome o = Run(loop.path() + ":" + partition, "select 2\n");
  EXPECT_EQ(o.status, 0) << o.errors;
  EXPECT_TRUE(Has(o.transcript, "list cbdrive \"(Read Only) Partitioned: parted.img\"\n")) << o.transcript;
  EXPECT_TRUE(Has(o.transcript, "list cbdrive \"(Read/Write) parted.img\"\n")) << o.transcript;
}

TEST_F(LoopDeviceTest, BadDeviceEntriesStopTheProgramWithOneLine) {
  fs::create_directory(folder_ / "folder");
  struct Case {
    std::string devices, error;
  } cases[] = {
      {(folder_ / "missing.img").string(), "SPINDLEX_DEVICES entry 1 \"" + (folder_ / "missing.img").string() + "\": "},
      {(folder_ / "folder").string(), "is a directory"},
      {"/dev/null", "not a block device or regular file"},
      {Image("a.img", 1 << 20).string() + "::", "SPINDLEX_DEVICES entry 2 \"\": empty entry"},
  };
  for (const Case& c : cases) {
    Outcome o = Run(c.devices, "");
    EXPECT_EQ(o.status, 2) << c.devices;
    EXPECT_EQ(o.transcript, "") << c.devices;
    EXPECT_TRUE(Has(o.errors, c.error)) << o.errors;
    EXPECT_EQ(std::count(o.errors.begin(), o.errors.end(), '\n'), 1) << o.errors;
    EXPECT_EQ(o.log, "<no log>") << c.devices;
  }
}

// What the processor spent, in nanoseconds, on one thread of a process.
std::int64_t ThreadCpuNs(pid_t process, pid_t thread) {
  std::ifstream in("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread) + "/schedstat");
  long long ns = -1;
  return (in >> ns) ? ns : -1;
}

// The scheduling policy of a thread (field 41 of its stat line).
int ThreadPolicy(pid_t process, pid_t thread) {
  std::ifstream in("/proc/" + std::to_string(process) + "/task/" + std::to_string(thread) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t close = text.rfind(')');  // the name may hold spaces
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  for (int n = 3; n <= 41 && fields >> field; ++n) {
    if (n == 41) return std::stoi(field);
  }
  return -1;
}

std::vector<pid_t> Threads(pid_t process) {
  std::vector<pid_t> tids;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(process) + "/task", ec)) {
    tids.push_back(static_cast<pid_t>(std::stol(entry.path().filename().string())));
  }
  return tids;
}

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

// One look at the program during its sweeps.
struct Sample {
  bool taken = false;
  double wall = 0;                 // seconds
  std::int64_t mainNs = -1;        // the thread that makes the transfers
  std::int64_t countingNs = -1;    // the idle-priority counting thread
  int policy = -1;                 // the counting thread's
  bool sameSingleCpu = false;      // both threads allowed exactly one processor, the same one
};

Sample Look(pid_t program) {
  Sample s;
  s.taken = true;
  s.wall = Now();
  s.mainNs = ThreadCpuNs(program, program);
  cpu_set_t mainSet;
  CPU_ZERO(&mainSet);
  bool mainPinned = sched_getaffinity(program, sizeof mainSet, &mainSet) == 0 && CPU_COUNT(&mainSet) == 1;
  for (pid_t tid : Threads(program)) {
    if (tid == program || ThreadPolicy(program, tid) != SCHED_IDLE) continue;
    s.countingNs = ThreadCpuNs(program, tid);
    s.policy = SCHED_IDLE;
    cpu_set_t set;
    CPU_ZERO(&set);
    s.sameSingleCpu = mainPinned && sched_getaffinity(tid, sizeof set, &set) == 0 && CPU_EQUAL(&set, &mainSet);
  }
  return s;
}

TEST_F(LoopDeviceTest, TheProcessorLoadAgreesWithTheThreadsOwnProcessorTime) {
  // 2 GiB: 63 zones of 32 transfers in each sweep, long enough to measure;
  // a small drive's eight zones of 16 transfers take a few milliseconds.
  const fs::path image = Image("blank.img", 2ll << 30);
  LoopDevice loop(image);
  REQUIRE_LOOP(loop);
  if (access("/proc/self/schedstat", R_OK) != 0) {
    std::printf("skipped: no per-thread processor time in /proc here\n");
    GTEST_SKIP() << "no /proc/PID/task/TID/schedstat";
  }

  // From the first zone's point to the start of the calibration: the sweeps
  // but their first zone. The main thread sleeps while the calibration runs.
  Sample first, last;
  Outcome o = Run(loop.path(), kWriteRun, [&](const std::string& line, pid_t program) {
    if (!first.taken && line.rfind("point Series1 ", 0) == 0) first = Look(program);
    if (!last.taken && line == "caption fg.Label5 \"Calculating CPU speed 5\"") last = Look(program);
  });
  ASSERT_EQ(o.status, 0) << o.errors << o.transcript;
  LogFigures figures = CheckLog(o.log, "blank.img", true);
  ASSERT_EQ(figures.zones, 63);
  ASSERT_TRUE(first.taken && last.taken) << o.transcript;

  // The counting thread is at idle priority on the transfer thread's processor.
  EXPECT_EQ(first.policy, SCHED_IDLE) << "no idle-priority thread in the program";
  EXPECT_TRUE(first.sameSingleCpu) << "the counting thread and the transfers are not on one processor";
  ASSERT_GE(first.mainNs, 0);
  ASSERT_GE(first.countingNs, 0);

  // The timed seconds of the sweeps, from the zone speeds: 32 transfers of 32 KiB a zone.
  double timed = 0;
  for (long long kbps : figures.reads) timed += 32.0 * 32 / static_cast<double>(kbps);
  for (long long kbps : figures.writes) timed += 32.0 * 32 / static_cast<double>(kbps);

  const double wall = last.wall - first.wall;
  const double mainShare = 100.0 * static_cast<double>(last.mainNs - first.mainNs) / 1e9 / wall;
  const double countingShare = 100.0 * static_cast<double>(last.countingNs - first.countingNs) / 1e9 / wall;
  const double u = figures.utilization;
  std::printf("sweeps: %.3f s timed (from the log), %.3f s watched\n", timed, wall);
  std::printf("reported CPU utilization: %.1f %% (%.3f s of the timed seconds)\n", u, u / 100 * timed);
  std::printf("transfer thread's own processor time: %.3f s = %.1f %% of the watched time\n",
              static_cast<double>(last.mainNs - first.mainNs) / 1e9, mainShare);
  std::printf("counting thread's processor time: %.1f %% of the watched time (100 - that = %.1f %%)\n",
              countingShare, 100 - countingShare);

  ASSERT_GT(wall, 0);
  EXPECT_GE(u, 0.0);
  EXPECT_LE(u, 100.0);
  // What the transfer thread itself spends is load the meter must see: the
  // counting thread cannot count while it runs on their one processor. The
  // meter may see more (the loop device's worker, interrupts, other
  // programs), so only a reading far below the thread's own share is wrong.
  EXPECT_GE(u, mainShare / 2 - 5) << "the meter misses the program's own processor time";
  // The meter counts what the counting thread got of the processor; what
  // the kernel says it got must tell the same story within a wide margin
  // (the watched time also holds the untimed moves to each zone).
  EXPECT_NEAR(u, 100 - countingShare, 30) << "the meter disagrees with the counting thread's processor time";
}

}  // namespace
