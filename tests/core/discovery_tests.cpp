// Discovery on both back ends against small simulated computers.
#include <gtest/gtest.h>

#include "drive/rerode.h"
#include "fixture.h"
#include "ui/spindlex.h"
#include "ui/zodu1.h"

namespace {

struct Row {
  std::int32_t sectors;
  std::int32_t sectorSize;
  bool removable;
  std::string letters;
  std::string name;
};

std::vector<Row> Discover(const std::string& json, bool expectDrives = true) {
  UseMachine(json);
  EXPECT_EQ(DiscoverDrives(true, "0A"), expectDrives);
  std::vector<Row> rows;
  for (int i = 1; i <= Drives.DriveCount; ++i) {
    const DriveRow& r = Drives.Row[i];
    rows.push_back({r.TotalSectors, r.SectorSize, r.IsRemovable, r.LetterText, r.DriveName});
  }
  return rows;
}

void ExpectRow(const Row& row, std::int32_t sectors, std::int32_t sectorSize, bool removable,
               const std::string& letters, const std::string& name) {
  EXPECT_EQ(row.sectors, sectors) << name;
  EXPECT_EQ(row.sectorSize, sectorSize) << name;
  EXPECT_EQ(row.removable, removable) << name;
  EXPECT_EQ(row.letters, letters) << name;
  EXPECT_EQ(row.name, name);
}

}  // namespace

TEST(RawDiscovery, TableOfDevices) {
  auto rows = Discover(R"({ "drives": [
      { "sectors": 16065, "layout": [0, 0, 7, 0], "scsi": { "port": 1, "path": 0, "target": 3, "lun": 0 },
        "identifier": "MAKER  DISK   " },
      { "sectors": 16065, "layout": [0, 0, 0, 0] },
      { "sectors": 16065, "layout": [6], "geometry": { "mediaType": 11 } },
      { "sectors": 16065, "layout": "fails", "scsi": "fails" },
      { "sectors": 100, "open": false },
      { "sectors": 16065, "geometry": { "cylinders": 4294967295, "tracksPerCylinder": 255, "sectorsPerTrack": 63 } } ],
    "floppies": { "A": { "sectors": 2880, "geometry": "fails" }, "B": { "sectors": 2880, "open": false } } })");
  ASSERT_EQ(rows.size(), 6u);
  // Only the third of four entries used; the name keeps the identifier's spaces.
  ExpectRow(rows[0], 16065, 512, false, "Partitioned", "MAKER  DISK   ");
  // Four unused entries: blank.
  ExpectRow(rows[1], 16065, 512, false, "", "Physical Drive 1");
  // A cartridge with partitions stays removable.
  ExpectRow(rows[2], 16065, 512, true, "Partitioned", "Physical Drive 2");
  // A layout that cannot be read is never taken for blank; no address keeps the default name.
  ExpectRow(rows[3], 16065, 512, false, "Partitioned", "Physical Drive 3");
  // The drive that does not open is skipped; a product past 2^31 - 1 is held there.
  ExpectRow(rows[4], 2147483647, 512, false, "", "Physical Drive 5");
  // A floppy drive without a disk.
  ExpectRow(rows[5], 0, 0, true, "", "Floppy Drive");
}

TEST(RawDiscovery, ACdRomIsRefusedAndClosedBeforeTheNextDeviceOpens) {
  UseMachine(R"({ "drives": [ { "sectors": 1000 } ],
      "cdroms": { "E": { "sectors": 1000, "sectorSize": 2048 }, "G": { "sectors": 1000, "sectorSize": 2048 } } })");
  CallRecorder recorder;
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  EXPECT_EQ(Drives.DriveCount, 1);
  std::vector<std::string> handles;
  for (const std::string& call : recorder.calls()) {
    if (call == "CreateFileA" || call == "CloseHandle") handles.push_back(call);
  }
  // Drive 0 opens and stays; 63 more physical names, A and B fail to open;
  // then E opens and closes, then G opens and closes.
  std::vector<std::string> tail(handles.end() - 4, handles.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"CreateFileA", "CloseHandle", "CreateFileA", "CloseHandle"}));
}

TEST(RawDiscovery, SixtyFiveDevicesFillSixtyFourRowsAndCloseTheRest) {
  std::string drives;
  for (int i = 0; i < 64; ++i) drives += std::string(i ? "," : "") + R"({ "sectors": 16065 })";
  SimMachine* sim = UseMachine(R"({ "drives": [)" + drives + R"(], "floppies": { "A": { "sectors": 2880 } } })");
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  EXPECT_EQ(Drives.DriveCount, 64);
  EXPECT_EQ(sim->Opens("\\\\.\\A:"), 1);
  EXPECT_EQ(sim->Closes("\\\\.\\A:"), 1);
}

TEST(StartUp, NoDriveShowsTheBoxAndNoWindow) {
  UseMachine(R"({ "drives": [ { "sectors": 100, "open": false } ] })");
  UseScript("");
  SpindlexMain();
  EXPECT_EQ(TakeTranscript(), "box \"ZIZADU\" \"Error opening RERODE.VXD.\" [OK] -> OK\n");
  EXPECT_EQ(fm, nullptr);
}

namespace {

// A Windows 95/98 computer whose units are given as JSON text; each unit i
// has device node 0x100 + i.
std::string Win95(const std::string& units, const std::string& registry, const std::string& volumes = "{}",
                  const std::string& driver = "") {
  return R"({ "platform": "win95", "portDriver": { )" + driver + R"("units": [ )" + units + R"( ] },
      "registry": )" + registry + R"(, "volumes": )" + volumes + " }";
}

std::string Unit(int capacity, const std::string& name, int devNode, const std::string& extra = "") {
  return R"({ "type": 0, "capacity": )" + std::to_string(capacity) + R"(, "name": ")" + name +
         R"(", "devNode": )" + std::to_string(devNode) + extra + "}";
}

// The registry of a unit: its device node's key and its hardware key with letters.
std::string Known(const std::string& node, const std::string& hardware, const std::string& letters) {
  std::string letterValue = letters == "-" ? "" : R"("CurrentDriveLetterAssignment": ")" + letters + "\"";
  return R"("HKEY_DYN_DATA\\Config Manager\\Enum\\)" + node + R"(": { "HardWareKey": ")" + hardware + R"(" },
      "HKEY_LOCAL_MACHINE\\Enum\\)" + hardware + R"(": { )" + letterValue + " }";
}

}  // namespace

TEST(PortDiscovery, UnitsLettersAndVolumes) {
  auto rows = Discover(Win95(Unit(50000, "FIXED NO LETTERS", 0x100) + "," + Unit(90000, "FIXED CD", 0x101) + "," +
                                 Unit(70000, "UNKNOWN", 0x102) + "," + Unit(99999, "ZIP", 0x103) + "," +
                                 Unit(1000, "CDROM", 0x104, R"(, "type": 5)") + "," +
                                 Unit(1000, "CDROM FULL", 0x105, R"(, "type": 10)") + "," +
                                 Unit(1000, "CDROM ALMOST", 0x106, R"(, "type": 10)"),
                             "{" + Known("00000100", "ESDI\\\\A", "-") + "," + Known("00000101", "ESDI\\\\B", "CD") +
                                 "," + Known("00000103", "SCSI\\\\ZIP", "E") + "," +
                                 Known("00000104", "SCSI\\\\CD1", "F") + "," + Known("00000105", "SCSI\\\\CD2", "G") +
                                 "," + Known("00000106", "SCSI\\\\CD3", "H") + "}",
                             R"({ "C": { "driveType": 3, "sectorsPerCluster": 8, "bytesPerSector": 1024, "totalClusters": 5 },
                                  "D": { "driveType": 3, "bytesPerSector": 2048 },
                                  "E": { "driveType": 2, "sectorsPerCluster": 4, "bytesPerSector": 512, "totalClusters": 24000 },
                                  "G": { "driveType": 5, "sectorsPerCluster": 1, "bytesPerSector": 2048, "totalClusters": 65535 },
                                  "H": { "driveType": 5, "sectorsPerCluster": 1, "bytesPerSector": 2048, "totalClusters": 65534 } })"));
  ASSERT_EQ(rows.size(), 5u);
  // No letters value: blank, 512-byte sectors, the driver's capacity.
  ExpectRow(rows[0], 50000, 512, false, "", "FIXED NO LETTERS");
  // Letters "CD": the volume of C alone gives the sector size; a fixed drive keeps the driver's size.
  ExpectRow(rows[1], 90000, 1024, false, "CD", "FIXED CD");
  // The unit the registry does not know is withdrawn; the removable drive counts its volume's clusters.
  ExpectRow(rows[2], 96000, 512, true, "E", "ZIP");
  // 65,535 clusters on a CD-ROM give 2,202,010 sectors, 65,534 give the product.
  ExpectRow(rows[3], 2202010, 2048, false, "G", "CDROM FULL");
  ExpectRow(rows[4], 65534, 2048, false, "H", "CDROM ALMOST");
  EXPECT_EQ(Drives.Row[3].DeviceRef, 3);
  EXPECT_EQ(Drives.Row[4].DeviceRef, 5);
}

TEST(PortDiscovery, TheMiddleOfThreeUnitsUnknown) {
  auto rows = Discover(Win95(Unit(1000, "U0", 0x100) + "," + Unit(1000, "U1", 0x101) + "," + Unit(1000, "U2", 0x102),
                             "{" + Known("00000100", "A", "-") + "," + Known("00000102", "C", "-") + "}"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(Drives.Row[1].DeviceRef, 0);
  EXPECT_EQ(Drives.Row[2].DeviceRef, 2);
  EXPECT_EQ(rows[1].name, "U2");
}

TEST(PortDiscovery, AnUnreadableHardwareKeyWithdrawsTheUnit) {
  auto rows = Discover(Win95(Unit(1000, "U0", 0x100),
                             R"({ "HKEY_DYN_DATA\\Config Manager\\Enum\\00000100": { },
                                  "HKEY_LOCAL_MACHINE\\Enum": { } })"),
                       false);
  EXPECT_TRUE(rows.empty());
}

TEST(PortDiscovery, DriverFailuresEndInTheStartUpBox) {
  const std::string registry = "{" + Known("00000100", "A", "-") + "}";
  struct Case {
    std::string machine;
    std::string transcript;
  } cases[] = {
      {R"({ "platform": "win95" })", ""},
      {Win95("", registry), ""},
      {Win95(Unit(1000, "U0", 0x100), registry, "{}", R"("version": 258, )"),
       "box \"Error\" \"RERODE.VXD version mismatch, reinstall your software.\" [OK] -> OK\n"},
      {Win95(Unit(1000, "U0", 0x100), registry, "{}", R"("open": false, )"), ""},
  };
  for (const Case& c : cases) {
    UseMachine(c.machine);
    UseScript("");
    SpindlexMain();
    EXPECT_EQ(TakeTranscript(), c.transcript + "box \"ZIZADU\" \"Error opening RERODE.VXD.\" [OK] -> OK\n")
        << c.machine;
  }
}

TEST(PortDiscovery, WithoutOpenVxDHandleNoDriveIsOffered) {
  UseMachine(R"({ "platform": "win95", "openVxDHandle": false, "portDriver": { "units": [
      { "type": 0, "capacity": 1000, "devNode": 256 } ] },
      "registry": { "HKEY_DYN_DATA\\Config Manager\\Enum\\00000100": { "HardWareKey": "A" },
                    "HKEY_LOCAL_MACHINE\\Enum\\A": { } } })");
  EXPECT_FALSE(DiscoverDrives(true, "0A"));
}

TEST(PortDiscovery, UnitsPastSixtyFourAreRefused) {
  std::string units, registry;
  for (int i = 0; i < 66; ++i) {
    char node[16];
    std::snprintf(node, sizeof node, "%08X", 0x100 + i);
    units += std::string(i ? "," : "") + Unit(1000, "U" + std::to_string(i), 0x100 + i);
    registry += std::string(i ? "," : "") + Known(node, "H" + std::to_string(i), "-");
  }
  auto rows = Discover(Win95(units, "{" + registry + "}"));
  EXPECT_EQ(rows.size(), 64u);
  EXPECT_EQ(rows.back().name, "U63");
}
