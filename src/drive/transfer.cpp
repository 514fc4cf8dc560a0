// Sector transfers between the selected drive and the attached buffer. The
// callers time every call, so a transfer does nothing but the transfer: two
// system calls, no allocation. The functions a timed transfer passes through
// are marked hot, here and in the layers below, so the compiler places them
// together: the burst's timed read comes after a pause, when every code page
// it touches for the first time is a cache and TLB miss.
#include "rerode.h"

namespace {

[[gnu::hot]] bool FitsAttachedBuffer(std::int32_t count) {
  std::int64_t bytes = static_cast<std::int64_t>(count) * CurrentRow().SectorSize;
  return Drives.AttachedBuffer && count >= 0 && bytes <= Drives.AttachedLength;
}

[[gnu::hot]] bool RawTransfer(std::int32_t start, std::int32_t count, bool isRead) {
  const std::int32_t sectorSize = CurrentRow().SectorSize;
  const std::int64_t position = static_cast<std::int64_t>(start) * sectorSize;
  LONG high = static_cast<LONG>(position >> 32);
  DWORD low = SetFilePointer(Drives.CurrentDevice, static_cast<LONG>(static_cast<DWORD>(position)), &high, FILE_BEGIN);
  if (low != static_cast<DWORD>(position) || high != static_cast<LONG>(position >> 32)) return false;
  const DWORD bytes = static_cast<DWORD>(count * sectorSize);
  DWORD moved = 0;
  BOOL ok = isRead ? ReadFile(Drives.CurrentDevice, Drives.AttachedBuffer, bytes, &moved, nullptr)
                   : WriteFile(Drives.CurrentDevice, Drives.AttachedBuffer, bytes, &moved, nullptr);
  return ok && moved == bytes;
}

bool DriverTransfer(DWORD code, std::int32_t start, std::int32_t count, std::uint8_t flags) {
  // A request that timed out may have completed since; its signal must not
  // be taken for the completion of this one.
  if (Drives.CompletionMayBeStray) {
    WaitForSingleObject(Drives.CompletionEvent, 0);
    Drives.CompletionMayBeStray = false;
  }
  RequestBlock& r = Drives.Request;
  r.Device = static_cast<std::uint32_t>(Drives.CurrentDevice);
  r.SectorSize = static_cast<std::uint32_t>(CurrentRow().SectorSize);
  r.Start = static_cast<std::uint32_t>(start);
  r.Count = static_cast<std::uint32_t>(count);
  r.Buffer = Drives.AttachedAddress;
  r.Status = 255;
  r.Event = Drives.RingZeroEvent;
  r.Flags = flags;
  DWORD returned = 0;
  DeviceIoControl(Drives.DriverHandle, code, &r, sizeof r, nullptr, 0, &returned, nullptr);
  if (WaitForSingleObject(Drives.CompletionEvent, kCompletionTimeoutMs) == WAIT_TIMEOUT) {
    Drives.CompletionMayBeStray = true;
    return false;
  }
  return r.Status <= 2;
}

// The driver's answer about the selected row (not its unit); false when the
// call fails.
bool AskAboutCurrentRow(DWORD code, DWORD* reply) {
  DWORD row = static_cast<DWORD>(Drives.CurrentDrive);
  DWORD returned = 0;
  return DeviceIoControl(Drives.DriverHandle, code, &row, sizeof row, reply, sizeof *reply, &returned, nullptr) !=
         FALSE;
}

}  // namespace

void AttachBuffer(void* buffer, std::int32_t length) {
  Drives.AttachedBuffer = static_cast<std::uint8_t*>(buffer);
  Drives.AttachedLength = length;
  Drives.AttachedAddress = PtrToUlong(buffer);
  if (!Drives.DriverMode) return;
  RequestBlock& r = Drives.Request;
  r.SectorSize = 0;
  r.Start = 0;
  r.Count = static_cast<std::uint32_t>(length);
  r.Buffer = Drives.AttachedAddress;
  r.Status = 255;
  DWORD returned = 0;
  DeviceIoControl(Drives.DriverHandle, DrvAttachBuffer, &r, sizeof r, nullptr, 0, &returned, nullptr);
}

std::uint32_t QueryDeviceFlags() {
  if (!Drives.DriverMode) return 0;
  DWORD flags = 0;
  return AskAboutCurrentRow(DrvDeviceFlags, &flags) ? flags : 0;
}

std::int32_t QueryMaxTransfer() {
  if (!Drives.DriverMode) return 0x10000;
  DWORD bytes = 0;
  // A driver that cannot say reports no limit; the run then reads 65,536.
  return AskAboutCurrentRow(DrvMaxTransfer, &bytes) ? static_cast<std::int32_t>(bytes) : -1;
}

[[gnu::hot]] bool ReadSectors(std::int32_t start, std::int32_t count, std::uint8_t flags) {
  if (!FitsAttachedBuffer(count)) return false;
  return Drives.DriverMode ? DriverTransfer(DrvRead, start, count, flags) : RawTransfer(start, count, true);
}

[[gnu::hot]] bool WriteSectors(std::int32_t start, std::int32_t count) {
  if (!FitsAttachedBuffer(count)) return false;
  return Drives.DriverMode ? DriverTransfer(DrvWrite, start, count, 0) : RawTransfer(start, count, false);
}

void EndTransfers() {
  if (!Drives.DriverMode) return;
  DWORD returned = 0;
  DeviceIoControl(Drives.DriverHandle, DrvEndTransfers, nullptr, 0, nullptr, 0, &returned, nullptr);
}
