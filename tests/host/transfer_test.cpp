// Sector transfers on image files: what arrives, what fails at the end of
// the medium, and what a transfer costs (one system call, no allocation).
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <atomic>
#include <cstddef>
#include <new>

#include "support.h"

// Counts every allocation of the test program, so a test can see whether a
// transfer allocates.
namespace {
std::atomic<long> allocations{0};
}
// g++ cannot see that these replacements pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace hosttest {
namespace {

constexpr std::int64_t kImageSize = 1 << 20;

class ImageTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    image = MakeImage(dir.path(), "disk.img", kImageSize);
    ASSERT_FALSE(image.empty());
    std::vector<BYTE> pattern(kImageSize);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<BYTE>(i / 512 * 7 + i);
    ASSERT_TRUE(WriteAt(image, 0, pattern.data(), pattern.size()));
    machine = Machine(image);
    ASSERT_NE(machine, nullptr);
    device = OpenDrive(*machine, 0);
    ASSERT_NE(device, nullptr);
  }
  BYTE Expected(std::int64_t pos) const { return static_cast<BYTE>(pos / 512 * 7 + pos); }

  TempDir dir;
  std::string image;
  std::unique_ptr<win32::Machine> machine;
  std::unique_ptr<win32::Device> device;
  AlignedBuffer buffer;
};

TEST_F(ImageTransfer, ReadsAndWritesAtTheGivenPosition) {
  DWORD moved = 0;
  ASSERT_TRUE(device->Read(8192, buffer.get(), 4096, &moved));
  EXPECT_EQ(moved, 4096u);
  for (int i = 0; i < 4096; i += 511) EXPECT_EQ(buffer.get()[i], Expected(8192 + i)) << i;

  std::memset(buffer.get(), 0x5A, AlignedBuffer::kSize);
  ASSERT_TRUE(device->Write(65536, buffer.get(), AlignedBuffer::kSize, &moved));
  EXPECT_EQ(moved, AlignedBuffer::kSize);
  std::memset(buffer.get(), 0, AlignedBuffer::kSize);
  ASSERT_TRUE(device->Read(65536 - 512, buffer.get(), 1024, &moved));
  EXPECT_EQ(buffer.get()[0], Expected(65536 - 512));
  EXPECT_EQ(buffer.get()[512], 0x5A);
}

// The size probe finds the end of a drive by reads that fail there; a write
// must not grow an image file either.
TEST_F(ImageTransfer, TransfersAtTheEndMoveOnlyWhatExists) {
  struct Case {
    bool write;
    std::int64_t pos;
    DWORD asked;
    DWORD moved;
  } cases[] = {
      {false, kImageSize - 4096, 4096, 4096},
      {false, kImageSize - 4096, 65536, 4096},
      {false, kImageSize, 512, 0},
      {false, kImageSize + 65536, 512, 0},
      {true, kImageSize - 512, 65536, 512},
      {true, kImageSize, 512, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.write ? "write " : "read ") << c.asked << " at " << c.pos);
    DWORD moved = 12345;
    if (c.write) {
      device->Write(c.pos, buffer.get(), c.asked, &moved);
    } else {
      device->Read(c.pos, buffer.get(), c.asked, &moved);
    }
    EXPECT_EQ(moved, c.moved);
  }
  EXPECT_EQ(fs::file_size(image), static_cast<std::uintmax_t>(kImageSize));
}

// Byte 4 GiB carries the high part of the file pointer.
TEST(HostTransferKernel, ReadsBeyondFourGiBThroughTheFilePointer) {
  TempDir dir;
  constexpr std::int64_t kFourGiB = 4LL << 30;
  std::string image = MakeImage(dir.path(), "big.img", kFourGiB + 65536);
  const char mark[] = "beyond four";
  ASSERT_TRUE(WriteAt(image, kFourGiB, mark, sizeof mark));
  HostLoadResult loaded = MakeHostMachine(image.c_str());
  ASSERT_TRUE(loaded.error.empty()) << loaded.error;
  win32::SetMachine(std::move(loaded.machine));
  HANDLE h = CreateFileA(Drive(0).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LONG high = 1;
  ASSERT_EQ(SetFilePointer(h, 0, &high, FILE_BEGIN), 0u);
  AlignedBuffer buffer;
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, buffer.get(), 512, &read, nullptr));
  EXPECT_EQ(read, 512u);
  EXPECT_STREQ(reinterpret_cast<const char*>(buffer.get()), mark);
  CloseHandle(h);
  win32::SetMachine(nullptr);
}

// Read and write syscalls of the calling thread so far, as the kernel counts them.
bool IoCounts(long* reads, long* writes) {
  char text[512];
  int fd = open("/proc/thread-self/io", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  const char* r = std::strstr(text, "syscr:");
  const char* w = std::strstr(text, "syscw:");
  if (!r || !w) return false;
  *reads = std::atol(r + 6);
  *writes = std::atol(w + 6);
  return true;
}

TEST_F(ImageTransfer, OneSystemCallAndNoAllocationPerTransfer) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's runtime makes system calls and allocations of its own";
#endif
  long r0, w0, r1, w1, r2, w2, r3, w3;
  ASSERT_TRUE(IoCounts(&r0, &w0));
  ASSERT_TRUE(IoCounts(&r1, &w1));  // what a look at the counts costs itself
  long before = allocations.load();
  DWORD moved = 0;
  device->Read(0, buffer.get(), AlignedBuffer::kSize, &moved);
  long afterRead = allocations.load();
  ASSERT_TRUE(IoCounts(&r2, &w2));
  device->Write(0, buffer.get(), AlignedBuffer::kSize, &moved);
  long afterWrite = allocations.load();
  ASSERT_TRUE(IoCounts(&r3, &w3));
  EXPECT_EQ((r2 - r1) - (r1 - r0), 1) << "read syscalls in one Read";
  EXPECT_EQ(w2 - w1, w1 - w0) << "write syscalls in one Read";
  EXPECT_EQ((w3 - w2) - (w1 - w0), 1) << "write syscalls in one Write";
  EXPECT_EQ(r3 - r2, r1 - r0) << "read syscalls in one Write";
  EXPECT_EQ(afterRead, before);
  EXPECT_EQ(afterWrite, before);
}

// In a child process that may make no system call but pread64, pwrite64
// and exit_group, a read and a write must still go through; any other call
// kills the child.
TEST_F(ImageTransfer, TransfersMakeNoOtherSystemCall) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's runtime makes system calls and allocations of its own";
#endif
#if defined(__x86_64__)
  constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
  constexpr unsigned kArch = 0;
  GTEST_SKIP() << "no seccomp architecture constant for this processor";
#endif
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 3, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pwrite64, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_exit_group, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  std::fflush(nullptr);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      _exit(3);
    }
    DWORD read = 0, written = 0;
    bool ok = device->Read(4096, buffer.get(), 8192, &read) && device->Write(0, buffer.get(), 4096, &written);
    _exit(ok && read == 8192 && written == 4096 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 3) {
    std::printf("skipped: seccomp filters are not available here\n");
    GTEST_SKIP() << "seccomp is not available here";
  }
  EXPECT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status) << ": a system call besides the transfer";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace hosttest
