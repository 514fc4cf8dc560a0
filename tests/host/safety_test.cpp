// Only a blank device may be offered for the destructive write test: any
// partition, signature, mount, swap use or holder makes the layout reply
// carry a used entry, which the program lists read-only as "Partitioned".
#include <gtest/gtest.h>

#include <thread>

#include "support.h"

namespace hosttest {
namespace {

constexpr std::int64_t kImageSize = 32 << 20;
constexpr DWORD kLayoutBuffer = 456;

struct LayoutReply {
  bool ok = false;
  DWORD count = 0;
  bool used = false;        // some entry the program examines has a type other than 0
  BYTE firstType = 0;
  std::int64_t firstStart = -1;
};

// The layout reply of drive 0 as the program reads it.
LayoutReply Layout(const std::string& devices) {
  LayoutReply reply;
  auto machine = Machine(devices);
  if (!machine) return reply;
  auto device = OpenDrive(*machine, 0);
  if (!device) return reply;
  BYTE layout[kLayoutBuffer] = {};
  DWORD returned = 0;
  reply.ok = device->IoControl(IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout, sizeof layout, &returned);
  std::memcpy(&reply.count, layout, 4);
  for (DWORD i = 0; i < reply.count && i < 14; ++i) {
    if (layout[8 + 32 * i + 24] != 0) reply.used = true;
  }
  reply.firstType = layout[8 + 24];
  std::memcpy(&reply.firstStart, layout + 8, 8);
  return reply;
}

bool Ext4(const std::string& image) { return Shell("mkfs.ext4 -q -F " + image); }
bool Swap(const std::string& image) { return Shell("mkswap " + image); }
bool Mbr(const std::string& image) { return WriteMbr(image, 0x83, kImageSize / 512 - 2048); }
bool EmptyMbr(const std::string& image) { return WriteMbr(image, 0, 0); }
bool Nothing(const std::string&) { return true; }

TEST(HostSafety, ImageFilesFollowTheContentRule) {
  struct Case {
    const char* name;
    bool (*fill)(const std::string&);
    bool blank;
  } cases[] = {
      {"blank", Nothing, true},
      {"ext4", Ext4, false},
      {"mbr with one entry", Mbr, false},
      {"mbr without entries", EmptyMbr, false},
      {"swap", Swap, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string image = MakeImage(dir.path(), "disk.img", kImageSize);
    ASSERT_TRUE(c.fill(image));
    LayoutReply layout = Layout(image);
    ASSERT_TRUE(layout.ok);
    EXPECT_EQ(layout.used, !c.blank);
    EXPECT_EQ(host::InspectUse(image).Blank(), c.blank);
  }
}

TEST(HostSafety, MbrEntryIsReportedAsWritten) {
  TempDir dir;
  std::string image = MakeImage(dir.path(), "disk.img", kImageSize);
  ASSERT_TRUE(WriteMbr(image, 0x0C, kImageSize / 512 - 2048));
  LayoutReply layout = Layout(image);
  ASSERT_TRUE(layout.ok);
  EXPECT_EQ(layout.count, 1u);
  EXPECT_EQ(layout.firstType, 0x0C);
  EXPECT_EQ(layout.firstStart, 2048 * 512);
}

TEST(HostSafety, LoopDevicesInUseAreNeverBlank) {
  enum Use { kIdle, kMounted, kSwapOn };
  struct Case {
    const char* name;
    bool (*fill)(const std::string&);
    Use use;
    bool blank;
  } cases[] = {
      {"blank", Nothing, kIdle, true},
      {"ext4", Ext4, kIdle, false},
      {"mbr with one entry", Mbr, kIdle, false},
      {"mounted ext4", Ext4, kMounted, false},
      {"swap in use", Swap, kSwapOn, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string image = MakeImage(dir.path(), "disk.img", kImageSize);
    ASSERT_TRUE(c.fill(image));
    LoopDevice loop(image);
    REQUIRE_LOOP(loop);
    std::unique_ptr<Mount> mount;
    std::unique_ptr<SwapOn> swap;
    if (c.use == kMounted) {
      mount = std::make_unique<Mount>(loop.path(), dir.path() / "mnt");
      ASSERT_TRUE(mount->ok());
    } else if (c.use == kSwapOn) {
      swap = std::make_unique<SwapOn>(loop.path());
      if (!swap->ok()) {
        std::printf("case skipped: swapon is not allowed here\n");
        continue;
      }
    }
    LayoutReply layout = Layout(loop.path());
    ASSERT_TRUE(layout.ok);
    EXPECT_EQ(layout.used, !c.blank);
    host::DeviceUse use = host::InspectUse(loop.path());
    EXPECT_EQ(use.Blank(), c.blank);
    EXPECT_EQ(use.mounted, c.use == kMounted);
    EXPECT_EQ(use.swap, c.use == kSwapOn);
    EXPECT_FALSE(use.held);
    // The image behind an attached loop device is held, whatever it holds.
    EXPECT_TRUE(host::InspectUse(image).held);
    EXPECT_TRUE(Layout(image).used);
  }
}

// Waits for the kernel to create a partition's device node.
bool AppearsSoon(const std::string& path) {
  for (int i = 0; i < 50 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return fs::exists(path);
}

TEST(HostSafety, MountedPartitionMarksTheWholeDeviceAndPartitionsAreAccepted) {
  TempDir dir;
  std::string image = MakeImage(dir.path(), "disk.img", kImageSize);
  ASSERT_TRUE(Mbr(image));
  ASSERT_TRUE(Shell("mkfs.ext4 -q -F -E offset=" + std::to_string(2048 * 512) + " " + image + " " +
                  std::to_string((kImageSize - 2048 * 512) / 1024)));
  LoopDevice loop(image, true);
  REQUIRE_LOOP(loop);
  std::string partition = loop.path() + "p1";
  // Where the kernel does not scan the table itself, partx tells it the partitions.
  if (!AppearsSoon(partition)) Shell("partx -a " + loop.path());
  if (!AppearsSoon(partition)) GTEST_SKIP() << "no device node for " << partition;

  HostLoadResult asPartition = MakeHostMachine(partition.c_str());
  EXPECT_TRUE(asPartition.error.empty()) << asPartition.error;
  EXPECT_TRUE(Layout(partition).used);  // the file system on it
  EXPECT_FALSE(host::InspectUse(loop.path()).mounted);

  Mount mount(partition, dir.path() / "mnt");
  ASSERT_TRUE(mount.ok());
  host::DeviceUse use = host::InspectUse(loop.path());
  EXPECT_TRUE(use.mounted);
  EXPECT_TRUE(use.partitioned);
  EXPECT_TRUE(Layout(loop.path()).used);
}

}  // namespace
}  // namespace hosttest
