// The host machine's device list, names, replies to the disk controls, the
// device map, the clock and thread placement.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <fstream>
#include <thread>

#include "support.h"

namespace hosttest {
namespace {

TEST(HostDeviceList, RefusesBadEntriesNamingEntryAndProblem) {
  TempDir dir;
  std::string image = MakeImage(dir.path(), "good.img", 1 << 20);
  struct Case {
    std::string devices;
    std::string entry;    // the error names it
    std::string problem;  // and says what is wrong
  } cases[] = {
      {image + ":" + (dir.path() / "missing.img").string(), (dir.path() / "missing.img").string(), "No such file"},
      {dir.path().string(), dir.path().string(), "is a directory"},
      {image + ":/dev/null", "/dev/null", "not a block device or regular file"},
      {image + "::" + image, "entry 2", "empty entry"},
      {"", "entry 1", "empty entry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices);
    HostLoadResult result = MakeHostMachine(c.devices.c_str());
    EXPECT_EQ(result.machine, nullptr);
    EXPECT_NE(result.error.find(c.entry), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(c.problem), std::string::npos) << result.error;
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
  }
}

TEST(HostDeviceList, ExposesListedFilesInOrder) {
  TempDir dir;
  std::string small = MakeImage(dir.path(), "small.img", 16065 * 512);
  std::string large = MakeImage(dir.path(), "large.img", 3 * 16065 * 512);
  auto machine = Machine(small + ":" + large);
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->PlatformId(), VER_PLATFORM_WIN32_NT);
  DWORD returned = 0;
  BYTE geometry[DISK_GEOMETRY_SIZE];
  for (int n = 0; n < 2; ++n) {
    auto device = OpenDrive(*machine, n);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->IoControl(IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof geometry, &returned));
    std::int64_t cylinders = 0;
    std::memcpy(&cylinders, geometry, 8);
    EXPECT_EQ(cylinders, n == 0 ? 1 : 3);
  }
  EXPECT_EQ(OpenDrive(*machine, 2), nullptr);
  EXPECT_EQ(machine->Open("\\\\.\\PHYSICALDRIVE", GENERIC_READ, 0, 0), nullptr);
  EXPECT_EQ(machine->Open("\\\\.\\C:", GENERIC_READ, 0, 0), nullptr);
  EXPECT_NE(machine->Open("\\\\.\\physicaldrive1", GENERIC_READ, 0, 0), nullptr);
}

// A fake sysfs block directory: one folder per device with "size" in
// 512-byte sectors, and loop/backing_file for attached loop devices.
TEST(HostDeviceList, ListsNonEmptyWholeDisksSorted) {
  TempDir sys;
  auto add = [&](const std::string& name, const std::string& sectors, const std::string& backing = "") {
    fs::create_directories(sys.path() / name);
    std::ofstream(sys.path() / name / "size") << sectors << "\n";
    if (!backing.empty()) {
      fs::create_directories(sys.path() / name / "loop");
      std::ofstream(sys.path() / name / "loop" / "backing_file") << backing << "\n";
    }
  };
  add("ubdb", "2000");
  add("ubda", "1000");
  add("pmem10", "10");
  add("pmem2", "10");
  add("loop0", "0");
  add("loop1", "4096", "/srv/a.img");
  add("loop2", "4096");  // detached, with a stale size
  add("zram0", "0");
  add("sr0", "1000");
  add("fd0", "2880");
  EXPECT_EQ(host::ListWholeDisks(sys.path().string()),
            (std::vector<std::string>{"/dev/loop1", "/dev/pmem2", "/dev/pmem10", "/dev/ubda", "/dev/ubdb"}));
}

// Geometry, SCSI address and device map name as the program reads them,
// through the kernel calls.
TEST(HostMachineKernel, GeometryAddressAndDeviceMapOfAnImage) {
  TempDir dir;
  std::string first = MakeImage(dir.path(), "first.img", 1 << 20);
  std::string second = MakeImage(dir.path(), "disk two.img", 5LL * 16065 * 512 + 100 * 512 + 17);
  HostLoadResult loaded = MakeHostMachine((first + ":" + second).c_str());
  ASSERT_TRUE(loaded.error.empty()) << loaded.error;
  win32::SetMachine(std::move(loaded.machine));

  HANDLE h = CreateFileA(Drive(1).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BYTE geometry[DISK_GEOMETRY_SIZE];
  std::memset(geometry, 0xCC, sizeof geometry);
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof geometry, &returned,
                              nullptr));
  DWORD words[4];
  std::int64_t cylinders = 0;
  std::memcpy(&cylinders, geometry, 8);
  std::memcpy(words, geometry + 8, 16);
  EXPECT_EQ(cylinders, 5);
  EXPECT_EQ(words[0], MEDIA_TYPE_FIXED);
  EXPECT_EQ(words[1], 255u);
  EXPECT_EQ(words[2], 63u);
  EXPECT_EQ(words[3], 512u);

  BYTE address[SCSI_ADDRESS_SIZE] = {8};
  ASSERT_TRUE(DeviceIoControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, sizeof address, &returned, nullptr));
  EXPECT_EQ(address[4], 1);  // port: the drive's number
  std::string key = "Hardware\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(address[4]) + "\\Scsi Bus " +
                    std::to_string(address[5]) + "\\Target Id " + std::to_string(address[6]) +
                    "\\Logical Unit Id " + std::to_string(address[7]);
  HKEY k = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  char name[200] = {};
  DWORD size = sizeof name;
  ASSERT_EQ(RegQueryValueExA(k, "Identifier", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size), ERROR_SUCCESS);
  // The file name; " (buffered)" where the temporary folder has no direct I/O.
  EXPECT_EQ(std::string(name).rfind("disk two.img", 0), 0u) << name;
  RegCloseKey(k);
  std::string noSuchPort = "Hardware\\DEVICEMAP\\Scsi\\Scsi Port 2\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0";
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, noSuchPort.c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_FILE_NOT_FOUND);
  CloseHandle(h);
  win32::SetMachine(nullptr);
}

// ramfs has no direct I/O: the image opens buffered, and its name says so.
TEST(HostMachineKernel, ImageWithoutDirectIoOpensBufferedUnderItsName) {
  TempDir dir;
  Mount ramfs("-t ramfs ramfs", dir.path() / "ramfs");
  if (!ramfs.ok()) GTEST_SKIP() << "cannot mount a ramfs here";
  std::string image = MakeImage(dir.path() / "ramfs", "ram.img", 1 << 20);
  int direct = open(image.c_str(), O_RDWR | O_DIRECT | O_CLOEXEC);
  if (direct >= 0) {
    close(direct);
    GTEST_SKIP() << "this ramfs does direct I/O";
  }
  auto machine = Machine(image);
  ASSERT_NE(machine, nullptr);
  auto device = OpenDrive(*machine, 0);
  ASSERT_NE(device, nullptr);
  AlignedBuffer buffer;
  DWORD moved = 0;
  EXPECT_TRUE(device->Read(0, buffer.get(), 4096, &moved));
  EXPECT_EQ(moved, 4096u);
  std::string name;
  ASSERT_TRUE(machine->RegistryValue(
      HKEY_LOCAL_MACHINE, "Hardware\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0",
      "Identifier", &name));
  EXPECT_EQ(name, "ram.img (buffered)");
}

TEST(HostMachineClock, NanosecondCounterAndRealSleep) {
  TempDir dir;
  auto machine = Machine(MakeImage(dir.path(), "a.img", 4096));
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->CounterFrequency(), 1'000'000'000);
  std::int64_t before = machine->Counter();
  machine->Sleep(2);
  EXPECT_GE(machine->Counter() - before, 2'000'000);  // a real sleep lasts at least as asked
}

// Restores the calling thread's processors when the test ends.
class AffinityGuard {
 public:
  AffinityGuard() { pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_); }
  ~AffinityGuard() { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }

 private:
  cpu_set_t saved_;
};

int OnlyCpu() {
  cpu_set_t set;
  if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0 || CPU_COUNT(&set) != 1) return -1;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) return cpu;
  }
  return -1;
}

TEST(HostMachineThreads, CountingThreadSharesTheTransferProcessor) {
  TempDir dir;
  auto machine = Machine(MakeImage(dir.path(), "a.img", 4096));
  ASSERT_NE(machine, nullptr);
  AffinityGuard guard;
  machine->ThreadStarted();
  int cpu = OnlyCpu();
  ASSERT_GE(cpu, 0);
  EXPECT_EQ(sched_getcpu(), cpu);

  int idleCpu = -2;
  int policy = -1;
  std::thread idle([&] {
    // A thread that was created elsewhere, with every processor allowed.
    cpu_set_t all;
    CPU_ZERO(&all);
    for (int c = 0; c < CPU_SETSIZE && c < 64; ++c) CPU_SET(c, &all);
    pthread_setaffinity_np(pthread_self(), sizeof all, &all);
    machine->LowerThreadToIdle();
    idleCpu = OnlyCpu();
    sched_param param{};
    pthread_getschedparam(pthread_self(), &policy, &param);
  });
  idle.join();
  EXPECT_EQ(idleCpu, cpu);
  EXPECT_EQ(policy, SCHED_IDLE);
}

}  // namespace
}  // namespace hosttest
