// What the program itself costs, apart from the transfers it times.
//
// Host transfers: ReadSectors through the whole stack (the program's transfer
// code, the kernel layer, the host Machine) against a bare pread loop on the
// same RAM-backed loop device, 64 sectors a transfer; and the same pair with
// transfers of no bytes, where the system call returns at once and the
// difference is the stack's own code with little noise around it. Run with
// --benchmark_enable_random_interleaving=true so the pairs alternate. The
// zero-byte pair also runs with a pause before every transfer, as the burst's
// timed read has one, separately and paired within each iteration.
//
// Whole runs: the program's read test of a simulated drive of 2,147,483,647
// sectors (16,383 zones) on the virtual clock, headless and under Qt
// offscreen. The transfers take no wall time there, so the run's wall time
// over the zones is what one zone costs outside its transfers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../src/drive/rerode.h"
#include "../tests/support/support.h"
#include "host/host.h"
#include "machine.h"
#include "windows.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kImageBytes = 64 << 20;
constexpr std::int32_t kBlockSectors = 64;
constexpr std::int32_t kSectorSize = 512;
constexpr std::int32_t kZones = 16383;

// A 64 MiB image of non-zero bytes on /dev/shm, attached to a loop device
// with direct I/O, and the program's drive table pointing at it through the
// host Machine. Made once, undone at exit.
class RamLoop {
 public:
  static RamLoop& Get() {
    static RamLoop instance;
    return instance;
  }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }
  void* buffer() const { return buffer_.get(); }

  ~RamLoop() {
    if (fd_ >= 0) close(fd_);
    if (handle_ > 0) CloseHandle(handle_);
    if (!loop_.empty()) std::system(("losetup -d " + loop_).c_str());
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
  }

 private:
  RamLoop() {
    if (geteuid() != 0) {
      error_ = "needs root to attach a loop device";
      return;
    }
    char pattern[] = "/dev/shm/spindlex-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
      error_ = "cannot make a folder on /dev/shm";
      return;
    }
    dir_ = pattern;
    std::string image = dir_ + "/disk.img";
    {
      std::ofstream out(image, std::ios::binary);
      std::vector<char> chunk(1 << 20);
      for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(i * 7 + 1);
      for (std::int64_t done = 0; done < kImageBytes; done += chunk.size()) out.write(chunk.data(), chunk.size());
      if (!out) {
        error_ = "cannot write the image";
        return;
      }
    }
    loop_ = testsupport::Capture("losetup --find --show --direct-io=on " + image);
    if (loop_.empty()) {
      error_ = "losetup could not attach the image";
      return;
    }
    fd_ = open(loop_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (fd_ < 0) {
      error_ = "cannot open " + loop_;
      return;
    }
    HostLoadResult host = MakeHostMachine(loop_.c_str());
    if (!host.machine) {
      error_ = host.error;
      return;
    }
    win32::SetMachine(std::move(host.machine));
    handle_ = CreateFileA("\\\\.\\PHYSICALDRIVE0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, 0);
    if (handle_ == INVALID_HANDLE_VALUE) {
      handle_ = 0;
      error_ = "the host Machine cannot open " + loop_;
      return;
    }
    Drives = DriveTable{};
    Drives.DriveCount = 1;
    Drives.Row[1].DeviceRef = handle_;
    Drives.Row[1].SectorSize = kSectorSize;
    Drives.Row[1].TotalSectors = static_cast<std::int32_t>(kImageBytes / kSectorSize);
    SelectDrive(1);
    AttachBuffer(buffer_.get(), 65536);
  }

  std::string error_;
  std::string dir_;
  std::string loop_;
  int fd_ = -1;
  HANDLE handle_ = 0;
  std::unique_ptr<std::uint8_t, decltype(&std::free)> buffer_{
      static_cast<std::uint8_t*>(std::aligned_alloc(4096, 65536)), &std::free};
};

// Sequential positions over the image, as a sweep visits them.
std::int32_t NextStart(std::int32_t& start, std::int32_t sectors) {
  std::int32_t now = start;
  start += sectors;
  if (static_cast<std::int64_t>(start + sectors) * kSectorSize > kImageBytes) start = 0;
  return now;
}

// The RAM-backed loop device, or nullptr with the benchmark skipped and why.
RamLoop* LoopOrSkip(benchmark::State& state) {
  RamLoop& loop = RamLoop::Get();
  if (loop.error().empty()) return &loop;
  std::printf("skipped: %s\n", loop.error().c_str());
  state.SkipWithError(loop.error().c_str());
  return nullptr;
}

void Stack(benchmark::State& state, std::int32_t sectors) {
  if (!LoopOrSkip(state)) return;
  std::int32_t start = 0;
  for (auto _ : state) {
    // A zero-length transfer still needs a valid start; every transfer of
    // the sweep moves whole blocks.
    bool ok = ReadSectors(NextStart(start, sectors ? sectors : kBlockSectors), sectors, 0);
    if (!ok) {
      state.SkipWithError("ReadSectors failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void Bare(benchmark::State& state, std::int32_t sectors) {
  RamLoop* loopOrNull = LoopOrSkip(state);
  if (!loopOrNull) return;
  RamLoop& loop = *loopOrNull;
  std::int32_t start = 0;
  const std::size_t bytes = static_cast<std::size_t>(sectors) * kSectorSize;
  for (auto _ : state) {
    const std::int64_t pos =
        static_cast<std::int64_t>(NextStart(start, sectors ? sectors : kBlockSectors)) * kSectorSize;
    if (pread(loop.fd(), loop.buffer(), bytes, pos) != static_cast<ssize_t>(bytes)) {
      state.SkipWithError("pread failed");
      return;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

// The same zero-length transfers, each after a pause as the burst measurement
// makes before its timed read: the processor comes back from idle with cold
// caches, which the back-to-back loops above never see. Only the transfer is
// timed, as the program times it.
bool StackZeroBytes() { return ReadSectors(104, 0, 0); }

// The descriptor and buffer are fetched before the timing, so the timed call
// is the pread alone.
auto BareZeroBytes() {
  return [fd = RamLoop::Get().fd(), buffer = RamLoop::Get().buffer()] {
    return pread(fd, buffer, 0, 104 * kSectorSize) == 0;
  };
}

// One transfer after a pause of 25 ms, in microseconds.
template <typename Transfer>
double MicrosecondsAfterPause(Transfer transfer, bool* ok) {
  Sleep(25);
  const auto begin = std::chrono::steady_clock::now();
  *ok = transfer();
  const auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::micro>(end - begin).count();
}

template <typename Transfer>
void AfterPause(benchmark::State& state, Transfer transfer) {
  if (!LoopOrSkip(state)) return;
  for (auto _ : state) {
    bool ok = false;
    const double us = MicrosecondsAfterPause(transfer, &ok);
    if (!ok) {
      state.SkipWithError("transfer failed");
      return;
    }
    state.SetIterationTime(us / 1e6);
  }
}

void BM_HostStackZeroBytesAfterPause(benchmark::State& state) { AfterPause(state, StackZeroBytes); }
void BM_HostBarePreadZeroBytesAfterPause(benchmark::State& state) { AfterPause(state, BareZeroBytes()); }

// The pair above runs as two benchmarks seconds apart, and the wake-up cost of
// this shared machine drifts between them by more than the difference sought.
// Here every iteration makes both transfers, each after its own pause, in an
// order that alternates, and the figure is the median of the differences
// within the iterations (counters in microseconds; the manual time is the
// stack's transfer).
void BM_HostStackMinusBareZeroBytesAfterPause(benchmark::State& state) {
  if (!LoopOrSkip(state)) return;
  auto bareTransfer = BareZeroBytes();
  std::vector<double> stackUs, bareUs, differenceUs;
  bool stackFirst = true;
  for (auto _ : state) {
    bool stackOk = false, bareOk = false;
    double stack = 0, bare = 0;
    if (stackFirst) {
      stack = MicrosecondsAfterPause(StackZeroBytes, &stackOk);
      bare = MicrosecondsAfterPause(bareTransfer, &bareOk);
    } else {
      bare = MicrosecondsAfterPause(bareTransfer, &bareOk);
      stack = MicrosecondsAfterPause(StackZeroBytes, &stackOk);
    }
    stackFirst = !stackFirst;
    if (!stackOk || !bareOk) {
      state.SkipWithError("transfer failed");
      return;
    }
    stackUs.push_back(stack);
    bareUs.push_back(bare);
    differenceUs.push_back(stack - bare);
    state.SetIterationTime(stack / 1e6);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  state.counters["stack_us"] = median(stackUs);
  state.counters["bare_us"] = median(bareUs);
  state.counters["difference_us"] = median(differenceUs);
}

BENCHMARK(BM_HostStackMinusBareZeroBytesAfterPause)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);
BENCHMARK(BM_HostStackZeroBytesAfterPause)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(60)->Repetitions(6);
BENCHMARK(BM_HostBarePreadZeroBytesAfterPause)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(60)->Repetitions(6);

void BM_HostStack64Sectors(benchmark::State& state) { Stack(state, kBlockSectors); }
void BM_HostBarePread64Sectors(benchmark::State& state) { Bare(state, kBlockSectors); }
void BM_HostStackZeroBytes(benchmark::State& state) { Stack(state, 0); }
void BM_HostBarePreadZeroBytes(benchmark::State& state) { Bare(state, 0); }

BENCHMARK(BM_HostStack64Sectors)->Repetitions(8)->MinTime(0.3);
BENCHMARK(BM_HostBarePread64Sectors)->Repetitions(8)->MinTime(0.3);
BENCHMARK(BM_HostStackZeroBytes)->Repetitions(8)->MinTime(0.3);
BENCHMARK(BM_HostBarePreadZeroBytes)->Repetitions(8)->MinTime(0.3);

// One whole read test of the program on the big simulated drive; returns
// the wall seconds, or a negative value when the run failed.
double WholeRun(const std::string& dir, bool qt) {
  std::vector<std::string> env = {"SPINDLEX_MACHINE=" + dir + "/big.json", "SPINDLEX_SCRIPT=" + dir + "/read.script",
                                  "PATH=/usr/bin:/bin"};
  if (qt) {
    env.push_back("QT_QPA_PLATFORM=offscreen");
  } else {
    env.push_back("SPINDLEX_UI=headless");
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = SPINDLEX_PROGRAM;
  char* argv[] = {program.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, (dir + "/transcript.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The log goes to the working directory: the run's own folder.
  std::string oldDir = fs::current_path().string();
  fs::current_path(dir);
  fs::remove(dir + "/spindlex.log");
  auto begin = std::chrono::steady_clock::now();
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
  int status = 0;
  if (spawned == 0) waitpid(pid, &status, 0);
  auto end = std::chrono::steady_clock::now();
  fs::current_path(oldDir);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  // A run that ended early would look cheap: its log must list every zone
  // (the Qt front end writes no transcript, so the log is the witness).
  std::ifstream log(dir + "/spindlex.log");
  std::string line;
  std::int32_t zones = 0;
  bool listing = false;
  while (std::getline(log, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find(" zones to be tested") != std::string::npos) {
      listing = true;
    } else if (line.rfind("Burst speed:", 0) == 0) {
      listing = false;
    } else if (listing && !line.empty() && line.find_first_not_of("-0123456789") == std::string::npos) {
      ++zones;
    }
  }
  if (zones != kZones) return -1;
  return std::chrono::duration<double>(end - begin).count();
}

void WholeRunPerZone(benchmark::State& state, bool qt) {
  char pattern[] = "/tmp/spindlex-run-XXXXXX";
  if (!mkdtemp(pattern)) {
    state.SkipWithError("cannot make a temporary folder");
    return;
  }
  std::string dir = pattern;
  std::ofstream(dir + "/big.json") << R"({ "clock": "virtual", "drives": [ { "sectors": 2147483647 } ] })" << "\n";
  std::ofstream(dir + "/read.script") << "click Button2\nwait Button1 \"&Ok\"\n";
  double total = 0;
  for (auto _ : state) {
    double seconds = WholeRun(dir, qt);
    if (seconds < 0) {
      state.SkipWithError("the run failed or did not draw every zone");
      break;
    }
    state.SetIterationTime(seconds);
    total += seconds;
  }
  if (state.iterations() > 0) {
    state.counters["ms_per_zone"] = total / state.iterations() / kZones * 1e3;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
}

void BM_WholeRunHeadless(benchmark::State& state) { WholeRunPerZone(state, false); }
void BM_WholeRunQtOffscreen(benchmark::State& state) { WholeRunPerZone(state, true); }

BENCHMARK(BM_WholeRunHeadless)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(3);
BENCHMARK(BM_WholeRunQtOffscreen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

}  // namespace

BENCHMARK_MAIN();
