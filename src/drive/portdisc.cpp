// Discovery on Windows 95/98 through the port driver: its units, named by
// the driver, with drive letters and volume sizes from the system.
#include <cstring>
#include <limits>

#include "../support/WinGen.h"
#include "rerode.h"

namespace {

bool Ask(DWORD code, DWORD unit, void* reply, DWORD replySize) {
  DWORD returned = 0;
  return DeviceIoControl(Drives.DriverHandle, code, &unit, sizeof unit, reply, replySize, &returned, nullptr) != FALSE;
}

// Reads a text value into a cleared 200-byte buffer; its text ends at the
// first NUL. False when the value cannot be read.
bool ReadText(HKEY key, const char* name, std::string* text) {
  char value[200] = {};
  DWORD size = sizeof value;
  bool ok = RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
  *text = std::string(value, strnlen(value, sizeof value));
  return ok;
}

// The letters of the unit's volumes; "Unknown" when the system does not
// know the unit (or its hardware key cannot be read: it must then never be
// taken for a blank drive).
std::string DriveLetters(std::uint32_t devNode) {
  std::string letters = "Unknown";
  HKEY node = 0;
  std::string nodeKey = "Config Manager\\Enum\\" + LongHex(devNode);
  if (RegOpenKeyExA(HKEY_DYN_DATA, nodeKey.c_str(), 0, KEY_ALL_ACCESS, &node) != ERROR_SUCCESS) return letters;
  std::string hardwareKey;
  if (ReadText(node, "HardWareKey", &hardwareKey)) {
    std::string path = ("Enum\\" + hardwareKey).substr(0, 200);
    HKEY hardware = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &hardware) == ERROR_SUCCESS) {
      ReadText(hardware, "CurrentDriveLetterAssignment", &letters);
      RegCloseKey(hardware);
    }
  }
  RegCloseKey(node);
  return letters;
}

std::int32_t ClusterSectors(DWORD sectorsPerCluster, DWORD clusters) {
  std::uint64_t product = static_cast<std::uint64_t>(sectorsPerCluster) * clusters;
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(product > kMax ? kMax : product);
}

// Sector size, and for removable and CD-ROM drives the size, from the file
// system of the unit's first volume.
void ReadVolume(DriveRow* row) {
  std::string root = row->LetterText.substr(0, 1) + ":\\";
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) {
    sectorsPerCluster = bytesPerSector = freeClusters = totalClusters = 0;
  }
  row->SectorSize = static_cast<std::int32_t>(bytesPerSector);
  UINT type = GetDriveTypeA(root.c_str());
  if (type == DRIVE_REMOVABLE) row->TotalSectors = ClusterSectors(sectorsPerCluster, totalClusters);
  row->IsRemovable = type == DRIVE_REMOVABLE;
  if (type == DRIVE_CDROM) {
    row->TotalSectors = totalClusters == 0xFFFF ? 2202010 : ClusterSectors(sectorsPerCluster, totalClusters);
    row->SectorSize = 2048;
  }
}

}  // namespace

void DiscoverPortDriverUnits() {
  if (Drives.RingZeroMissing) return;
  Drives.DriverHandle = CreateFileA("\\\\.\\RERODE", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, 0);
  if (Drives.DriverHandle == INVALID_HANDLE_VALUE) return;
  DWORD returned = 0;
  DWORD count = 0;
  DeviceIoControl(Drives.DriverHandle, DrvUnitCount, nullptr, 0, &count, sizeof count, &returned, nullptr);
  if (count == 0) {
    CloseHandle(Drives.DriverHandle);
    Drives.DriverHandle = INVALID_HANDLE_VALUE;
    return;
  }
  DWORD version = 0;
  DeviceIoControl(Drives.DriverHandle, DrvVersion, nullptr, 0, &version, sizeof version, &returned, nullptr);
  if (version != DriverVersion) {
    MessageBoxA(0, "RERODE.VXD version mismatch, reinstall your software.", "Error", MB_OK);
    return;
  }
  for (DWORD unit = 0; unit < count; ++unit) {
    DWORD type = 0;
    if (!Ask(DrvUnitType, unit, &type, sizeof type)) continue;
    if (!DeviceTypeAccepted(static_cast<std::uint8_t>(type & 0xFF))) continue;
    std::uint8_t capacity[8] = {};
    if (!Ask(DrvUnitCapacity, unit, capacity, sizeof capacity)) continue;
    DWORD devNode = 0;
    if (!Ask(DrvUnitDevNode, unit, &devNode, sizeof devNode)) continue;
    DriveRow* row = AddRow();
    if (!row) break;  // the table is full: later units are refused
    std::uint32_t sectors;
    std::memcpy(&sectors, capacity, 4);
    row->TotalSectors = ClusterSectors(1, sectors);  // held at the largest count a row carries
    row->DeviceRef = static_cast<std::int32_t>(unit);
    row->DevNode = devNode;
    char name[100] = {};
    Ask(DrvUnitName, unit, name, sizeof name);
    row->DriveName = std::string(name, strnlen(name, sizeof name));
    row->SectorSize = 512;
    row->IsRemovable = false;
    row->LetterText = DriveLetters(devNode);
    if (row->LetterText == "Unknown") {
      --Drives.DriveCount;  // withdrawn: the system does not know this unit
      continue;
    }
    if (!row->LetterText.empty()) ReadVolume(row);
  }
}
