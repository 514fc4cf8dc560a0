// Temporary image files, loop devices and mounts for the host tests. Every
// device a test touches is an image file in its own temporary folder or a
// loop device attached to one; each helper undoes itself when it goes out
// of scope, also when a test fails.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../support/support.h"
#include "host.h"
#include "windows.h"

namespace hosttest {

namespace fs = std::filesystem;
using testsupport::Capture;
using testsupport::LoopDevice;
using testsupport::Shell;

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "spindlex-host-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data())) path_ = name.data();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// A sparse image file of the given size.
inline std::string MakeImage(const fs::path& dir, const std::string& name, std::int64_t size) {
  fs::path path = dir / name;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return "";
  bool ok = ftruncate(fd, size) == 0;
  close(fd);
  return ok ? path.string() : "";
}

inline bool WriteAt(const std::string& path, std::int64_t pos, const void* data, std::size_t n) {
  int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = pwrite(fd, data, n, pos) == static_cast<ssize_t>(n);
  close(fd);
  return ok;
}

// A master boot record with one used entry of the given type from sector
// 2048 on (or none with type 0) and the 0x55AA signature.
inline bool WriteMbr(const std::string& path, BYTE type, DWORD sectors) {
  BYTE mbr[512] = {};
  BYTE* entry = mbr + 446;
  if (type != 0) {
    entry[4] = type;
    DWORD first = 2048;
    std::memcpy(entry + 8, &first, 4);
    std::memcpy(entry + 12, &sectors, 4);
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  return WriteAt(path, 0, mbr, sizeof mbr);
}

// Skips the test when loop devices cannot be attached here.
#define REQUIRE_LOOP(loop)                                                              \
  if ((loop).path().empty()) {                                                          \
    std::printf("skipped: losetup could not attach a loop device (needs root)\n");     \
    GTEST_SKIP() << "losetup is not allowed here";                                      \
  }

class Mount {
 public:
  Mount(const std::string& device, const fs::path& dir) : dir_(dir) {
    fs::create_directories(dir_);
    mounted_ = Shell("mount " + device + " " + dir_.string());
  }
  ~Mount() {
    if (mounted_) Shell("umount " + dir_.string());
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  bool ok() const { return mounted_; }

 private:
  fs::path dir_;
  bool mounted_ = false;
};

class SwapOn {
 public:
  explicit SwapOn(const std::string& device) : device_(device) { on_ = Shell("swapon " + device_); }
  ~SwapOn() {
    if (on_) Shell("swapoff " + device_);
  }
  SwapOn(const SwapOn&) = delete;
  SwapOn& operator=(const SwapOn&) = delete;
  bool ok() const { return on_; }

 private:
  std::string device_;
  bool on_ = false;
};

// The transfer buffer as the program has it: 65,536 bytes, 4096-aligned.
struct AlignedBuffer {
  static constexpr DWORD kSize = 65536;
  std::unique_ptr<BYTE, decltype(&std::free)> data{static_cast<BYTE*>(std::aligned_alloc(4096, kSize)), &std::free};
  BYTE* get() const { return data.get(); }
};

// The machine of the given device list; fails the test when it is refused.
inline std::unique_ptr<win32::Machine> Machine(const std::string& devices) {
  HostLoadResult result = MakeHostMachine(devices.c_str());
  if (!result.error.empty()) std::fprintf(stderr, "%s\n", result.error.c_str());
  return std::move(result.machine);
}

inline std::string Drive(int n) { return "\\\\.\\PHYSICALDRIVE" + std::to_string(n); }

inline std::unique_ptr<win32::Device> OpenDrive(win32::Machine& machine, int n) {
  return machine.Open(Drive(n), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
}

}  // namespace hosttest
