// The kernel port driver of a Windows 95/98 machine, reached as "\\.\RERODE":
// its units, the buffers announced to it, and the requests it completes by
// writing Status into the caller's request block and signalling the event.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "clock.h"
#include "machine_file.h"
#include "medium.h"
#include "windows.h"

// The fields of a 32-byte request block as the driver received them.
struct SimPortRequest {
  DWORD device = 0;
  DWORD sectorSize = 0;
  DWORD start = 0;
  DWORD count = 0;
  DWORD buffer = 0;
  LONG status = 0;
  DWORD event = 0;
  DWORD flags = 0;
};

// The driver's control codes.
enum SimPortCode : DWORD {
  kDrvUnitCount = 1,
  kDrvRead = 2,
  kDrvUnitName = 4,
  kDrvUnitType = 5,
  kDrvUnitCapacity = 6,
  kDrvUnitDevNode = 10,
  kDrvWrite = 11,
  kDrvVersion = 12,
  kDrvAttachBuffer = 14,
  kDrvEndTransfers = 15,
  kDrvDeviceFlags = 16,
  kDrvMaxTransfer = 17,
};

class SimPortDriver {
 public:
  static constexpr DWORD kRequestBlockSize = 32;
  static constexpr DWORD kNameReplySize = 100;
  // The Status a failed or refused transfer completes with.
  static constexpr LONG kFailedStatus = 3;

  SimPortDriver(const sim::PortDriverConfig& config, SimClock* clock);

  // Opens the units' image files; an error line ("place: problem") or empty.
  std::string OpenMedia();

  bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
  // A wait gave up: a request held back for late completion completes now.
  void WaitGaveUp();

  SimMedium* UnitMedium(std::size_t unit) { return unit < media_.size() ? media_[unit].get() : nullptr; }
  const SimPortRequest* LastRequest(DWORD code) const;
  int Calls(DWORD code) const;

 private:
  struct Pending {
    bool active = false;
    bool write = false;
    SimPortRequest request;
    BYTE* block = nullptr;
  };

  bool UnitQuery(DWORD code, const sim::UnitConfig& unit, std::size_t index, void* out, DWORD outSize,
                 DWORD* returned);
  bool Request(bool write, BYTE* block);
  bool Attach(BYTE* block);
  void Finish(const Pending& p);
  static void Complete(BYTE* block, DWORD event, LONG status);

  sim::PortDriverConfig config_;
  SimClock* clock_;
  std::vector<std::unique_ptr<SimMedium>> media_;  // one per unit
  std::map<DWORD, DWORD> attached_;                // buffer tag -> length in bytes
  std::map<DWORD, SimPortRequest> last_;           // per control code
  std::map<DWORD, int> calls_;                     // per control code
  Pending pending_;
};
