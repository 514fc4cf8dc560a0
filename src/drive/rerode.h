// Drive access: the table of drives found at start-up, the current
// selection, discovery through raw devices (Windows NT) or the port driver
// (Windows 95/98), and the sector transfers between the selected drive and
// one attached buffer.
#pragma once

#include <cstdint>
#include <string>

#include "windows.h"

constexpr int kMaxDrives = 64;

struct DriveRow {
  std::int32_t DeviceRef = 0;  // NT: the raw device's handle; 95/98: the driver's unit number
  std::int32_t TotalSectors = 0;
  std::int32_t SectorSize = 0;
  bool IsRemovable = false;
  std::string LetterText;  // 95/98: drive letters; NT: "Partitioned" or empty. Empty: blank drive
  std::string DriveName;
  std::uint32_t DevNode = 0;  // 95/98 only, during discovery
};

// The 32-byte request block of the port driver; all fields little-endian words.
struct RequestBlock {
  std::uint32_t Device;
  std::uint32_t SectorSize;
  std::uint32_t Start;
  std::uint32_t Count;
  std::uint32_t Buffer;
  std::int32_t Status;
  std::uint32_t Event;
  std::uint32_t Flags;
};
static_assert(sizeof(RequestBlock) == 32);

// Port driver control codes.
enum PortDriverCode : DWORD {
  DrvUnitCount = 1,
  DrvRead = 2,
  DrvUnitName = 4,
  DrvUnitType = 5,
  DrvUnitCapacity = 6,
  DrvUnitDevNode = 10,
  DrvWrite = 11,
  DrvVersion = 12,
  DrvAttachBuffer = 14,
  DrvEndTransfers = 15,
  DrvDeviceFlags = 16,
  DrvMaxTransfer = 17,
};
constexpr DWORD DriverVersion = 0x103;
constexpr DWORD kCompletionTimeoutMs = 5000;

struct DriveTable {
  DriveRow Row[kMaxDrives + 1];  // rows 1..64; Row[0] is never used
  std::int32_t DriveCount = 0;
  std::int32_t CurrentDrive = 0;
  std::int32_t CurrentDevice = 0;
  bool DriverMode = false;
  HANDLE DriverHandle = INVALID_HANDLE_VALUE;
  HANDLE CompletionEvent = 0;
  DWORD RingZeroEvent = 0;
  bool RingZeroMissing = false;  // KERNEL32 had no OpenVxDHandle

  // The running discovery's filter.
  bool FilterOn = false;
  std::string AcceptedTypes;

  // Transfers.
  std::uint8_t* AttachedBuffer = nullptr;
  std::int32_t AttachedLength = 0;
  DWORD AttachedAddress = 0;  // the buffer's address as a driver request carries it
  RequestBlock Request{};
  bool CompletionMayBeStray = false;  // a wait timed out; its request may still complete
};

extern DriveTable Drives;

// Module start and end steps (the run time calls them; tests may too).
void RerodeStart();
void RerodeEnd();

bool DiscoverDrives(bool filterOn, const std::string& acceptedTypes);
bool DeviceTypeAccepted(std::uint8_t deviceType);

// Selects row `row` (1-based): CurrentDrive and CurrentDevice together.
void SelectDrive(std::int32_t row);
const DriveRow& CurrentRow();

// Windows NT discovery of one opened device (drive.cpp).
void DiscoverRawDevices();
// deviceNumber: the n of "\\.\PHYSICALDRIVEn", for the default name.
void ProbeRawDevice(HANDLE device, std::uint8_t deviceType, int deviceNumber);
// Windows 95/98 discovery through the port driver.
void DiscoverPortDriverUnits();

// Adds a row, or refuses when the table is full (false).
DriveRow* AddRow();

// The transfer operations on the current selection.
void AttachBuffer(void* buffer, std::int32_t length);
std::uint32_t QueryDeviceFlags();
std::int32_t QueryMaxTransfer();
bool ReadSectors(std::int32_t start, std::int32_t count, std::uint8_t flags);
bool WriteSectors(std::int32_t start, std::int32_t count);
void EndTransfers();
