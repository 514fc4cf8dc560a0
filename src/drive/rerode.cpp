// The drive table, the module's start and end steps, and the entry to
// discovery with its device-type filter.
#include "rerode.h"

#include "../support/WinGen.h"
#include "system.h"

DriveTable Drives;

namespace {
const bool kRegistered = win32::RegisterUnit(&RerodeStart, &RerodeEnd);
}

void RerodeStart() {
  (void)kRegistered;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&info);
  Drives.DriverMode = info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  if (!Drives.DriverMode) return;
  FARPROC proc = GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle");
  Drives.CompletionEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (proc) {
    Drives.RingZeroEvent = reinterpret_cast<OpenVxDHandleProc>(proc)(Drives.CompletionEvent);
  } else {
    // Without it the driver could never signal a completion: discovery
    // refuses the port driver instead.
    Drives.RingZeroMissing = true;
  }
}

void RerodeEnd() {
  // The port driver's handle and event go with the process; the raw
  // devices are the table's to close, each once.
  if (Drives.DriverMode) return;
  for (int i = 1; i <= Drives.DriveCount; ++i) {
    if (Drives.Row[i].DeviceRef > 0) {
      CloseHandle(Drives.Row[i].DeviceRef);
      Drives.Row[i].DeviceRef = 0;
    }
  }
}

bool DiscoverDrives(bool filterOn, const std::string& acceptedTypes) {
  Drives.FilterOn = filterOn;
  Drives.AcceptedTypes = acceptedTypes;
  Drives.DriveCount = 0;
  if (Drives.DriverMode) {
    DiscoverPortDriverUnits();
  } else {
    DiscoverRawDevices();
  }
  return Drives.DriveCount > 0;
}

bool DeviceTypeAccepted(std::uint8_t deviceType) {
  if (!Drives.FilterOn) return true;
  char lowDigit = ByteHex(deviceType)[1];
  return Drives.AcceptedTypes.find(lowDigit) != std::string::npos;
}

DriveRow* AddRow() {
  if (Drives.DriveCount >= kMaxDrives) return nullptr;
  ++Drives.DriveCount;
  Drives.Row[Drives.DriveCount] = DriveRow{};
  return &Drives.Row[Drives.DriveCount];
}

void SelectDrive(std::int32_t row) {
  Drives.CurrentDrive = row;
  Drives.CurrentDevice = Drives.Row[row].DeviceRef;
}

// On every transfer's path (see transfer.cpp on hot).
[[gnu::hot]] const DriveRow& CurrentRow() { return Drives.Row[Drives.CurrentDrive]; }
