// Raw disk devices of an NT machine, driven through the kernel calls: what
// transfers cost, where they fail or come up short, where the bytes live, and
// what the disk I/O controls answer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "sim_test_util.h"

namespace {

struct Step {
  std::int64_t sector;
  DWORD count;
  bool write;
  bool ok;
  std::int64_t cost;
};

TEST(DiskTiming, CostFollowsSeekRateRampAndHeadEvenWhenTransfersFail) {
  SimMachine* sim = UseMachine(R"({"drives":[{"sectors":1000,"bad":[[600,1]],
      "timing":{"seek":100,"readStart":10,"readEnd":30,"writeStart":50}}]})");
  ASSERT_NE(sim, nullptr);
  HANDLE h = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  // rate(s) = start + (end - start) * s / sectors, truncated; cost per KiB.
  const Step steps[] = {
      {0, 8, false, true, 40},       // head at 0: no seek; 4 KiB at rate 10
      {500, 2, false, true, 120},    // seek, then rate 20
      {502, 1, false, true, 10},     // sequential: rate 20.04 -> 20
      {999, 1, false, true, 114},    // rate 29.98 -> 29; 14.5 ticks -> 14
      {598, 4, false, false, 142},   // touches the bad sector: full cost all the same
      {602, 1, false, true, 11},     // the failed transfer left the head at 602
      {499, 1, true, true, 120},     // writes: 50 down to the read end 30; -9.98 -> -9
      {995, 10, false, false, 245},  // runs past the end
      {1005, 1, false, false, 15},   // starts past the end, where the head stands: no seek
  };
  std::vector<char> buffer(65536);
  for (const Step& s : steps) {
    std::int64_t before = Now();
    DWORD moved = 0;
    std::int64_t pos = s.sector * 512;
    bool ok = s.write ? WriteAt(h, pos, buffer.data(), s.count * 512, &moved)
                      : ReadAt(h, pos, buffer.data(), s.count * 512, &moved);
    EXPECT_EQ(ok, s.ok) << "sector " << s.sector;
    EXPECT_EQ(Now() - before, s.cost) << "sector " << s.sector;
    EXPECT_EQ(sim->DriveMedium("\\\\.\\physicaldrive0")->head(), s.sector + s.count);
  }
  // Not whole sectors: refused before the medium, no time spent, head unmoved.
  std::int64_t before = Now();
  DWORD moved = 0;
  EXPECT_FALSE(ReadAt(h, 513, buffer.data(), 512, &moved));
  EXPECT_FALSE(ReadAt(h, 512, buffer.data(), 700, &moved));
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(sim->DriveMedium("\\\\.\\PHYSICALDRIVE0")->head(), 1006);
}

struct Transfer {
  std::int64_t sector;
  DWORD count;
  bool write;
  bool ok;
  DWORD movedSectors;
};

TEST(DiskMedium, EndOfMediumShortAndBadRanges) {
  ASSERT_NE(UseMachine(R"({"drives":[{"sectors":100,"short":[[10,2]],"bad":[[20,1]]}]})"), nullptr);
  HANDLE h = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  const Transfer cases[] = {
      {99, 1, false, true, 1},   {98, 2, false, true, 2},  {99, 2, false, false, 0}, {100, 1, false, false, 0},
      {150, 1, true, false, 0},  {8, 8, false, true, 2},   {10, 4, false, true, 0},  {11, 1, true, true, 0},
      {16, 8, false, false, 0},  {19, 1, true, true, 1},   {20, 1, true, false, 0},  {21, 8, false, true, 8},
  };
  std::vector<char> buffer(65536);
  for (const Transfer& c : cases) {
    DWORD moved = 12345;
    bool ok = c.write ? WriteAt(h, c.sector * 512, buffer.data(), c.count * 512, &moved)
                      : ReadAt(h, c.sector * 512, buffer.data(), c.count * 512, &moved);
    EXPECT_EQ(ok, c.ok) << "sector " << c.sector << " count " << c.count;
    EXPECT_EQ(moved, c.movedSectors * 512) << "sector " << c.sector << " count " << c.count;
  }
  // The file pointer moves by what moved: a short read continues at the short sector.
  DWORD moved = 0;
  ASSERT_TRUE(ReadAt(h, 8 * 512, buffer.data(), 4 * 512, &moved));
  ASSERT_EQ(moved, 2u * 512);
  ASSERT_TRUE(ReadFile(h, buffer.data(), 512, &moved, nullptr));
  EXPECT_EQ(moved, 0u);
}

TEST(DiskMedium, SparseTwentyGigabyteDiskCarriesTheHighPartOfFourGigabytes) {
  SimMachine* sim = UseMachine(R"({"drives":[{"sectors":41943040}]})");  // 20 GiB of 512-byte sectors
  ASSERT_NE(sim, nullptr);
  HANDLE h = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  std::vector<unsigned char> pattern(512), back(512, 0xEE);
  for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i * 7 + 1);
  const std::int64_t fourGiB = 8388608ll * 512;
  ASSERT_EQ(fourGiB, 4294967296ll);
  DWORD moved = 0;
  ASSERT_TRUE(WriteAt(h, fourGiB, pattern.data(), 512, &moved));
  ASSERT_TRUE(ReadAt(h, fourGiB, back.data(), 512, &moved));
  EXPECT_EQ(back, pattern);
  // Byte 0 shares the low part of the position and must not see the data.
  ASSERT_TRUE(ReadAt(h, 0, back.data(), 512, &moved));
  EXPECT_EQ(back, std::vector<unsigned char>(512, 0));
  ASSERT_TRUE(ReadAt(h, 41943039ll * 512, back.data(), 512, &moved));
  EXPECT_EQ(back, std::vector<unsigned char>(512, 0));
  EXPECT_EQ(sim->DriveMedium("\\\\.\\PHYSICALDRIVE0")->chunksInMemory(), 1u);
}

TEST(DiskMedium, ImageFileRelativeToTheMachineFile) {
  char dirTemplate[] = "/tmp/sim_image_XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const std::filesystem::path dir = dirTemplate;
  {
    std::ofstream image(dir / "disk.img", std::ios::binary);
    for (int sector = 0; sector < 16; ++sector) image << std::string(512, static_cast<char>(sector));
    std::ofstream(dir / "machine.json") << R"({"drives":[{"sectors":32,"image":"disk.img"}]})";
  }
  SimLoadResult r = LoadMachineFile((dir / "machine.json").string());
  ASSERT_NE(r.machine, nullptr) << r.error;
  win32::SetMachine(std::move(r.machine));
  HANDLE h = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  std::vector<char> buffer(1024);
  DWORD moved = 0;
  ASSERT_TRUE(ReadAt(h, 3 * 512, buffer.data(), 1024, &moved));
  EXPECT_EQ(std::string(buffer.data(), 1024), std::string(512, 3) + std::string(512, 4));
  ASSERT_TRUE(ReadAt(h, 20 * 512, buffer.data(), 512, &moved));  // beyond the image's end: zeros
  EXPECT_EQ(std::string(buffer.data(), 512), std::string(512, 0));
  std::memset(buffer.data(), 0xAB, 512);
  ASSERT_TRUE(WriteAt(h, 5 * 512, buffer.data(), 512, &moved));
  CloseHandle(h);
  win32::SetMachine(nullptr);
  std::ifstream image(dir / "disk.img", std::ios::binary);
  std::string contents((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
  EXPECT_EQ(contents.substr(4 * 512, 512), std::string(512, 4));
  EXPECT_EQ(contents.substr(5 * 512, 512), std::string(512, '\xAB'));
  EXPECT_EQ(contents.size(), 16u * 512);
  std::filesystem::remove_all(dir);
}

// One machine for the device, control and registry tests.
const char* kDevices = R"({
  "drives": [
    {"sectors": 2000000, "layout": [0, 0, 7, 0], "scsi": {"port": 1, "target": 3}, "identifier": "ACME DISK  "},
    {"sectors": 1000, "sectorSize": 2048, "layout": "fails", "scsi": "fails",
     "geometry": {"cylinders": 10, "tracksPerCylinder": 4, "sectorsPerTrack": 25, "mediaType": 11}},
    {"sectors": 10, "geometry": "fails"},
    {"sectors": 10, "open": false}
  ],
  "floppies": {"A": {"sectors": 0}},
  "cdroms": {"E": {"sectors": 1000, "sectorSize": 2048}},
  "volumes": {"C": {}, "D": {"driveType": 2, "totalClusters": 5}},
  "registry": {"HKEY_DYN_DATA\\Config Manager\\Enum\\0000ABCD": {"HardWareKey": "ESDI\\DISK0"}}
})";

class DiskControls : public ::testing::Test {
 protected:
  void SetUp() override { sim = UseMachine(kDevices); }
  static DWORD Word(const BYTE* p, int offset) {
    DWORD v;
    std::memcpy(&v, p + offset, 4);
    return v;
  }
  SimMachine* sim = nullptr;
};

TEST_F(DiskControls, GeometryGivenDerivedOrFailing) {
  HANDLE d0 = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  HANDLE d1 = OpenDevice("\\\\.\\PHYSICALDRIVE1");
  HANDLE d2 = OpenDevice("\\\\.\\PHYSICALDRIVE2");
  BYTE g[32] = {};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(d0, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, g, 24, &returned, nullptr));
  EXPECT_EQ(returned, 24u);
  std::int64_t cylinders;
  std::memcpy(&cylinders, g, 8);
  EXPECT_EQ(cylinders, 2000000 / (255 * 63));
  EXPECT_EQ(Word(g, 8), 12u);
  EXPECT_EQ(Word(g, 12), 255u);
  EXPECT_EQ(Word(g, 16), 63u);
  EXPECT_EQ(Word(g, 20), 512u);
  EXPECT_FALSE(DeviceIoControl(d0, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, g, 16, &returned, nullptr));

  ASSERT_TRUE(DeviceIoControl(d1, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, g, 24, &returned, nullptr));
  EXPECT_EQ(Word(g, 0), 10u);
  EXPECT_EQ(Word(g, 8), 11u);
  EXPECT_EQ(Word(g, 12), 4u);
  EXPECT_EQ(Word(g, 16), 25u);
  EXPECT_EQ(Word(g, 20), 2048u);  // bytes per sector follows the sector size
  EXPECT_FALSE(DeviceIoControl(d2, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, g, 24, &returned, nullptr));
}

TEST_F(DiskControls, LayoutEntriesAndTheBufferTheyNeed) {
  HANDLE d0 = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  BYTE layout[456];
  std::memset(layout, 0xCC, sizeof(layout));
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(d0, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout, 456, &returned, nullptr));
  EXPECT_EQ(returned, 8u + 4 * 32);
  EXPECT_EQ(Word(layout, 0), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(layout[8 + 32 * i + 24], i == 2 ? 7 : 0) << "entry " << i;
  EXPECT_FALSE(DeviceIoControl(d0, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout, 8 + 3 * 32, &returned, nullptr));

  EXPECT_FALSE(DeviceIoControl(OpenDevice("\\\\.\\PHYSICALDRIVE1"), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout,
                               456, &returned, nullptr));
  ASSERT_TRUE(DeviceIoControl(OpenDevice("\\\\.\\PHYSICALDRIVE2"), IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout,
                              456, &returned, nullptr));
  EXPECT_EQ(Word(layout, 0), 0u);
}

TEST_F(DiskControls, ScsiAddressNamesTheDriveInTheDeviceMap) {
  BYTE a[8] = {};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(OpenDevice("\\\\.\\PHYSICALDRIVE0"), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, a, 8, &returned,
                              nullptr));
  EXPECT_EQ(std::vector<BYTE>(a, a + 8), (std::vector<BYTE>{8, 0, 0, 0, 1, 0, 3, 0}));
  EXPECT_FALSE(DeviceIoControl(OpenDevice("\\\\.\\PHYSICALDRIVE1"), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, a, 8,
                               &returned, nullptr));

  HKEY key = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "Hardware\\DEVICEMAP\\Scsi\\Scsi Port 1\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 0", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  char name[200] = {};
  DWORD size = sizeof(name);
  ASSERT_EQ(RegQueryValueExA(key, "Identifier", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, size - 1), "ACME DISK  ");
  RegCloseKey(key);
  EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                          "Hardware\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  // Keys listed in the file, matched in any letter case.
  ASSERT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "CONFIG MANAGER\\Enum\\0000abcd", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  size = sizeof(name);
  ASSERT_EQ(RegQueryValueExA(key, "HardWareKey", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "ESDI\\DISK0");
  EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(DiskControls, DevicesDriveTypesAndVolumes) {
  HANDLE d0 = OpenDevice("\\\\.\\PHYSICALDRIVE0");
  EXPECT_NE(d0, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenDevice("\\\\.\\PHYSICALDRIVE3"), INVALID_HANDLE_VALUE);  // "open": false
  EXPECT_EQ(OpenDevice("\\\\.\\PHYSICALDRIVE4"), INVALID_HANDLE_VALUE);
  EXPECT_NE(OpenDevice("\\\\.\\A:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenDevice("\\\\.\\B:"), INVALID_HANDLE_VALUE);
  EXPECT_NE(OpenDevice("\\\\.\\E:"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenDevice("\\\\.\\RERODE"), INVALID_HANDLE_VALUE);
  CloseHandle(d0);
  EXPECT_EQ(sim->Opens("\\\\.\\PHYSICALDRIVE0"), 1);
  EXPECT_EQ(sim->Closes("\\\\.\\PHYSICALDRIVE0"), 1);
  EXPECT_EQ(sim->OpenAttempts("\\\\.\\PHYSICALDRIVE3"), 1);
  EXPECT_EQ(sim->Opens("\\\\.\\PHYSICALDRIVE3"), 0);

  EXPECT_EQ(GetDriveTypeA("E:\\"), DRIVE_CDROM);
  EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveTypeA("D:\\"), DRIVE_REMOVABLE);
  EXPECT_EQ(GetDriveTypeA("F:\\"), DRIVE_NO_ROOT_DIR);
  DWORD perCluster = 0, bytes = 0, free = 7, total = 0;
  ASSERT_TRUE(GetDiskFreeSpaceA("C:\\", &perCluster, &bytes, &free, &total));
  EXPECT_EQ(perCluster, 8u);
  EXPECT_EQ(bytes, 512u);
  EXPECT_EQ(free, 0u);
  EXPECT_EQ(total, 1000u);
  ASSERT_TRUE(GetDiskFreeSpaceA("D:\\", &perCluster, &bytes, &free, &total));
  EXPECT_EQ(total, 5u);
  EXPECT_FALSE(GetDiskFreeSpaceA("E:\\", &perCluster, &bytes, &free, &total));
}

}  // namespace
