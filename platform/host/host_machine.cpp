// The host Machine: which devices the program sees under which names, the
// device map in the registry, the clock and the threads.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host.h"
#include "host_device.h"
#include "inspect.h"

namespace host {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxPhysicalDrives = 64;  // the program tries PHYSICALDRIVE0 to 63
constexpr std::size_t kMaxIdentifier = 199;     // the program reads the name into 200 bytes
constexpr const char* kPhysicalDrive = "\\\\.\\PHYSICALDRIVE";
constexpr const char* kDeviceMapPrefix = "Hardware\\DEVICEMAP\\Scsi\\Scsi Port ";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string DeviceMapKey(std::size_t port) {
  return kDeviceMapPrefix + std::to_string(port) + "\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0";
}

// "\\.\PHYSICALDRIVEn" to n; -1 for any other name.
int PhysicalDriveNumber(const std::string& upperName) {
  std::string prefix = kPhysicalDrive;
  if (upperName.rfind(prefix, 0) != 0) return -1;
  std::string digits = upperName.substr(prefix.size());
  if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return -1;
  return std::stoi(digits);
}

// "\\.\X:" to X; 0 for any other name.
char DriveLetter(const std::string& upperName) {
  if (upperName.size() != 6 || upperName.rfind("\\\\.\\", 0) != 0 || upperName[5] != ':') return 0;
  char letter = upperName[4];
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

struct Exposed {
  std::string path;
  std::string identifier;
};

std::vector<std::string> OpticalDrives() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("sr", 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (std::string& name : names) name = "/dev/" + name;
  return names;
}

class HostMachine : public win32::Machine {
 public:
  explicit HostMachine(std::vector<std::string> paths) : optical_(OpticalDrives()) {
    for (std::string& path : paths) {
      std::string identifier = Identify(path);
      drives_.push_back({std::move(path), std::move(identifier)});
    }
  }

  DWORD PlatformId() override { return VER_PLATFORM_WIN32_NT; }

  std::unique_ptr<win32::Device> Open(const std::string& name, DWORD access, DWORD, DWORD) override {
    std::string upper = Upper(name);
    bool write = (access & GENERIC_WRITE) != 0;
    int n = PhysicalDriveNumber(upper);
    if (n >= 0) {
      if (static_cast<std::size_t>(n) >= drives_.size()) return nullptr;
      return OpenPath(drives_[n].path, write, false, n, &drives_[n].identifier);
    }
    char letter = DriveLetter(upper);
    if (letter == 'A' || letter == 'B') return OpenPath(letter == 'A' ? "/dev/fd0" : "/dev/fd1", write, true, -1, nullptr);
    if (letter >= 'D' && static_cast<std::size_t>(letter - 'D') < optical_.size()) {
      return OpenPath(optical_[letter - 'D'], write, true, -1, nullptr);
    }
    return nullptr;
  }

  UINT DriveType(const std::string& root) override {
    if (root.size() < 2 || root[1] != ':') return DRIVE_NO_ROOT_DIR;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    if (letter >= 'D' && letter <= 'Z' && static_cast<std::size_t>(letter - 'D') < optical_.size()) return DRIVE_CDROM;
    return DRIVE_NO_ROOT_DIR;
  }

  bool DiskFreeSpace(const std::string&, win32::VolumeSpace*) override { return false; }

  // The device map key of every exposed drive and the keys above it.
  bool RegistryKeyExists(HKEY root, const std::string& path) override {
    if (root != HKEY_LOCAL_MACHINE) return false;
    std::string upper = Upper(path);
    for (std::size_t port = 0; port < drives_.size(); ++port) {
      std::string key = Upper(DeviceMapKey(port));
      if (key == upper || upper.empty() || (key.rfind(upper, 0) == 0 && key[upper.size()] == '\\')) return true;
    }
    return false;
  }

  bool RegistryValue(HKEY root, const std::string& path, const std::string& name, std::string* value) override {
    if (root != HKEY_LOCAL_MACHINE || Upper(name) != "IDENTIFIER") return false;
    std::string upper = Upper(path);
    for (std::size_t port = 0; port < drives_.size(); ++port) {
      if (Upper(DeviceMapKey(port)) == upper) {
        *value = drives_[port].identifier.substr(0, kMaxIdentifier);
        return true;
      }
    }
    return false;
  }

  std::int64_t CounterFrequency() override { return 1'000'000'000; }

  // Read right before and after every timed transfer: hot, like them.
  [[gnu::hot]] std::int64_t Counter() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
  }

  void Sleep(DWORD milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

  // The counting thread must compete with the transfers for one processor,
  // so its creator stays on the processor it runs on now...
  void ThreadStarted() override {
    int cpu = sched_getcpu();
    if (cpu >= 0 && PinTo(cpu)) pinnedCpu_.store(cpu);
  }

  // ...and the counting thread goes to that same processor.
  void LowerThreadToIdle() override {
    win32::Machine::LowerThreadToIdle();
    int cpu = pinnedCpu_.load();
    if (cpu >= 0) PinTo(cpu);
  }

 private:
  static bool PinTo(int cpu) {
    if (cpu >= CPU_SETSIZE) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
  }

  // Opens with O_DIRECT, so transfers reach the medium. An image file on a
  // file system without direct I/O opens buffered and its name says so.
  // mayBeEmpty: floppy and optical drives, which open without a medium.
  std::unique_ptr<win32::Device> OpenPath(const std::string& path, bool write, bool mayBeEmpty, int port,
                                          std::string* identifier) {
    int flags = (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | (mayBeEmpty ? O_NONBLOCK : 0);
    int fd = open(path.c_str(), flags | O_DIRECT);
    struct stat st {};
    if (fd < 0 && errno == EINVAL && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      fd = open(path.c_str(), flags);
      if (fd >= 0 && identifier && identifier->find(" (buffered)") == std::string::npos) *identifier += " (buffered)";
    }
    if (fd < 0) return nullptr;
    if (fstat(fd, &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
      close(fd);
      return nullptr;
    }
    std::int64_t imageSize = S_ISREG(st.st_mode) ? static_cast<std::int64_t>(st.st_size) : -1;
    return std::make_unique<HostDevice>(fd, port, imageSize, Inspect(path));
  }

  std::vector<Exposed> drives_;
  std::vector<std::string> optical_;
  std::atomic<int> pinnedCpu_{-1};
};

// Why a listed entry cannot be used; empty when it can.
std::string CheckEntry(const std::string& path) {
  if (path.empty()) return "empty entry";
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "is a directory";
  if (!S_ISBLK(st.st_mode) && !S_ISREG(st.st_mode)) return "not a block device or regular file";
  return {};
}

}  // namespace

std::vector<std::string> ListWholeDisks(const std::string& sysBlockDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysBlockDir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("sr", 0) == 0 || name.rfind("fd", 0) == 0) continue;
    std::ifstream sizeFile(entry.path() / "size");
    long long sectors = 0;
    if (!(sizeFile >> sectors) || sectors <= 0) continue;
    if (name.rfind("loop", 0) == 0) {
      std::ifstream backing(entry.path() / "loop" / "backing_file");
      std::string file;
      if (!std::getline(backing, file) || file.empty()) continue;
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  for (std::string& name : names) name = "/dev/" + name;
  return names;
}

}  // namespace host

HostLoadResult MakeHostMachine(const char* devicesEnv) {
  HostLoadResult result;
  std::vector<std::string> paths;
  if (!devicesEnv) {
    paths = host::ListWholeDisks();
    if (paths.size() > host::kMaxPhysicalDrives) paths.resize(host::kMaxPhysicalDrives);
  } else {
    std::string list = devicesEnv;
    std::size_t start = 0;
    for (;;) {
      std::size_t colon = list.find(':', start);
      std::string path = list.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
      std::string problem = host::CheckEntry(path);
      if (!problem.empty()) {
        result.error = "SPINDLEX_DEVICES entry " + std::to_string(paths.size() + 1) + " \"" + path + "\": " + problem;
        return result;
      }
      paths.push_back(path);
      if (colon == std::string::npos) break;
      start = colon + 1;
    }
    if (paths.size() > host::kMaxPhysicalDrives) {
      result.error = "SPINDLEX_DEVICES: " + std::to_string(paths.size()) + " entries, at most " +
                     std::to_string(host::kMaxPhysicalDrives) + " devices can be exposed";
      return result;
    }
  }
  result.machine = std::make_unique<host::HostMachine>(std::move(paths));
  return result;
}
