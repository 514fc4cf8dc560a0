// What a computer must answer for the kernel calls of windows.h. Exactly one
// Machine is active per process; the platform picks it at start.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "windows.h"

namespace win32 {

// An opened device or file. The kernel keeps the file pointer and hands the
// device absolute byte positions.
class Device {
 public:
  virtual ~Device() = default;
  // Moves up to n bytes at byte position pos; *moved tells how many moved.
  // False when the transfer failed (a short transfer may still return true).
  virtual bool Read(std::int64_t pos, void* buffer, DWORD n, DWORD* moved) = 0;
  virtual bool Write(std::int64_t pos, const void* buffer, DWORD n, DWORD* moved) = 0;
  virtual bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) = 0;
};

struct VolumeSpace {
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
};

// A kernel event object.
class Event {
 public:
  Event(bool manualReset, bool initiallySignalled) : manual_(manualReset), signalled_(initiallySignalled) {}
  void Set();
  // Takes the signal if it is there (an auto-reset event clears).
  bool TryTake();
  // Waits up to ms in real time for the signal and takes it.
  bool WaitFor(DWORD milliseconds);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool manual_;
  bool signalled_;
};

class Machine {
 public:
  virtual ~Machine() = default;

  virtual DWORD PlatformId() = 0;  // VER_PLATFORM_WIN32_WINDOWS or VER_PLATFORM_WIN32_NT
  // nullptr when the device does not exist or cannot be opened as asked.
  virtual std::unique_ptr<Device> Open(const std::string& name, DWORD access, DWORD share, DWORD flags) = 0;
  virtual UINT DriveType(const std::string& root) = 0;
  virtual bool DiskFreeSpace(const std::string& root, VolumeSpace* space) = 0;

  virtual bool RegistryKeyExists(HKEY root, const std::string& path) = 0;
  virtual bool RegistryValue(HKEY root, const std::string& path, const std::string& name, std::string* value) = 0;

  virtual bool HasOpenVxDHandle() { return false; }

  virtual std::int64_t CounterFrequency() = 0;
  virtual std::int64_t Counter() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  // Waits up to ms for the event; true when it was signalled (and taken).
  // The default waits in real time.
  virtual bool Wait(Event& event, DWORD milliseconds);
  // Called after a wait gave up, so a driver may complete a request late.
  virtual void WaitGaveUp() {}

  // Lowers the calling thread to the lowest priority the computer offers.
  virtual void LowerThreadToIdle();
  // Called when the program's thread starts another thread; the default
  // does nothing.
  virtual void ThreadStarted() {}
};

// The active machine; nullptr before the platform set one.
Machine* ActiveMachine();
void SetMachine(std::unique_ptr<Machine> machine);

// Kernel side of events, for drivers: signal the event behind a ring-zero
// handle that OpenVxDHandle gave out. False for an unknown handle.
bool SignalRingZero(DWORD ringZeroHandle);

// A hook that sees the name of every kernel call, in order (tests count what
// runs inside timed intervals). nullptr: no tracing.
using CallTrace = void (*)(const char* call);
void SetCallTrace(CallTrace trace);
void TraceCall(const char* call);

// The front end answers MessageBoxA.
using MessageBoxHandler = int (*)(const char* text, const char* caption, UINT type);
void SetMessageBoxHandler(MessageBoxHandler handler);

// Resets the kernel's own tables (handles, events, address tags): for tests
// that build a fresh machine.
void ResetKernel();

}  // namespace win32
