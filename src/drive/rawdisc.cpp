// Discovery on Windows NT: the raw physical drives, the floppy drives and
// the CD-ROM drives, examined with the standard disk I/O controls.
#include <algorithm>
#include <cstring>
#include <limits>

#include "../support/WinGen.h"
#include "rerode.h"

namespace {

std::uint32_t Word(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, 4);
  return value;
}

// Registry text ends at its first NUL or at the reported length.
std::string ValueText(const char* data, DWORD size) {
  std::size_t length = size > 0 ? size - 1 : 0;
  return std::string(data, strnlen(data, length));
}

// The cylinder x head x sector product, held at the largest sector count a
// row can carry rather than wrapped around.
std::int32_t GeometrySectors(std::uint32_t cylinders, std::uint32_t tracks, std::uint32_t sectors) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::uint64_t product = static_cast<std::uint64_t>(cylinders) * tracks;
  if (product > kMax) return static_cast<std::int32_t>(kMax);
  product *= sectors;
  return static_cast<std::int32_t>(std::min(product, kMax));
}

void ReadGeometry(HANDLE device, DriveRow* row) {
  std::uint8_t geometry[DISK_GEOMETRY_SIZE] = {};
  DWORD returned = 0;
  DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry, sizeof geometry, &returned, nullptr);
  row->TotalSectors = GeometrySectors(Word(geometry + 0), Word(geometry + 12), Word(geometry + 16));
  row->IsRemovable = Word(geometry + 8) == MEDIA_TYPE_REMOVABLE;
  row->SectorSize = static_cast<std::int32_t>(Word(geometry + 20));
}

void ReadLayout(HANDLE device, DriveRow* row) {
  constexpr DWORD kLayoutBytes = 456;
  constexpr DWORD kEntries = (kLayoutBytes - DRIVE_LAYOUT_HEADER_SIZE) / PARTITION_INFORMATION_SIZE;
  std::uint8_t layout[kLayoutBytes] = {};
  DWORD returned = 0;
  if (!DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, layout, sizeof layout, &returned, nullptr)) {
    // A layout we cannot read may hide partitions: never treat it as blank.
    row->LetterText = "Partitioned";
    return;
  }
  DWORD count = std::min(Word(layout), kEntries);
  for (DWORD i = 0; i < count; ++i) {
    if (layout[DRIVE_LAYOUT_HEADER_SIZE + i * PARTITION_INFORMATION_SIZE + 24] != 0) {
      row->LetterText = "Partitioned";
      return;
    }
  }
}

void ReadScsiName(HANDLE device, DriveRow* row) {
  std::uint8_t address[SCSI_ADDRESS_SIZE] = {};
  address[0] = SCSI_ADDRESS_SIZE;
  DWORD returned = 0;
  // Without an address a look-up would name whatever sits at 0/0/0/0.
  if (!DeviceIoControl(device, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, address, sizeof address, &returned, nullptr)) {
    return;
  }
  std::string key = "Hardware\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(address[4]) + "\\Scsi Bus " +
                    std::to_string(address[5]) + "\\Target Id " + std::to_string(address[6]) +
                    "\\Logical Unit Id " + std::to_string(address[7]);
  HKEY handle = 0;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
  char value[200] = {};
  DWORD size = sizeof value;
  if (RegQueryValueExA(handle, "Identifier", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
      ERROR_SUCCESS) {
    row->DriveName = ValueText(value, size);
  }
  RegCloseKey(handle);
}

HANDLE OpenDevice(const std::string& name, bool readOnly) {
  DWORD access = readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
  DWORD share = readOnly ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
  return CreateFileA(name.c_str(), access, share, nullptr, OPEN_EXISTING, 0, 0);
}

}  // namespace

void ProbeRawDevice(HANDLE device, std::uint8_t deviceType, int deviceNumber) {
  if (!DeviceTypeAccepted(deviceType)) {
    CloseHandle(device);
    return;
  }
  DriveRow* row = AddRow();
  if (!row) {  // the table is full
    CloseHandle(device);
    return;
  }
  row->DeviceRef = device;
  row->DriveName = "Physical Drive " + IntText(deviceNumber);
  ReadGeometry(device, row);
  ReadLayout(device, row);
  if (deviceType == 0 || deviceType == 5) {
    ReadScsiName(device, row);
  } else {
    row->DriveName = "Floppy Drive";
    row->IsRemovable = true;
  }
}

void DiscoverRawDevices() {
  SetErrorMode(SEM_FAILCRITICALERRORS);
  for (int n = 0; n <= 63; ++n) {
    HANDLE h = OpenDevice("\\\\.\\PHYSICALDRIVE" + IntText(n), false);
    if (h != INVALID_HANDLE_VALUE) ProbeRawDevice(h, 0, n);
  }
  for (char letter : {'A', 'B'}) {
    HANDLE h = OpenDevice(std::string("\\\\.\\") + letter + ":", false);
    if (h != INVALID_HANDLE_VALUE) ProbeRawDevice(h, 10, letter - 'A');
  }
  for (char letter = 'C'; letter <= 'Z'; ++letter) {
    std::string root = std::string(1, letter) + ":\\";
    if (GetDriveTypeA(root.c_str()) != DRIVE_CDROM) continue;
    HANDLE h = OpenDevice(std::string("\\\\.\\") + letter + ":", true);
    if (h != INVALID_HANDLE_VALUE) ProbeRawDevice(h, 5, letter - 'A');
  }
}
