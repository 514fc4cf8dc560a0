// The kernel: handles, file pointers, events, registry handles and address
// tags, with every call passed on to the active Machine. Only the program's
// main thread uses handles, so the tables take no lock.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "machine.h"
#include "system.h"
#include "windows.h"

namespace win32 {

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
  }
  changed_.notify_all();
}

bool Event::TryTake() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!signalled_) return false;
  if (!manual_) signalled_ = false;
  return true;
}

bool Event::WaitFor(DWORD milliseconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return signalled_; };
  if (milliseconds == INFINITE) {
    changed_.wait(lock, ready);
  } else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), ready)) {
    return false;
  }
  if (!manual_) signalled_ = false;
  return true;
}

bool Machine::Wait(Event& event, DWORD milliseconds) { return event.WaitFor(milliseconds); }

void Machine::LowerThreadToIdle() {
  sched_param param{};
  param.sched_priority = 0;
  pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}

namespace {

struct Object {
  enum Kind { kFile, kEvent, kThread } kind;
  std::unique_ptr<Device> device;  // kFile
  std::int64_t position = 0;       // kFile
  std::unique_ptr<Event> event;    // kEvent
};

struct RegistryKey {
  HKEY root;
  std::string path;
};

struct Kernel {
  // Shared with the threads the program starts, which keep the machine they
  // were started on for as long as they run.
  std::shared_ptr<Machine> machine;
  std::vector<std::unique_ptr<Object>> objects;  // handle h is objects[h - 1]
  std::vector<Event*> ringZero;                  // ring-zero handle kRingZeroBase + i
  std::vector<void*> addressTags;                // tag kTagBase + 16 * i
  std::vector<RegistryKey> keys;                 // key kKeyBase + i; empty path: closed
  UINT errorMode = 0;
  CallTrace trace = nullptr;
  MessageBoxHandler messageBox = nullptr;
};

constexpr DWORD kRingZeroBase = 0xC0001000u;
constexpr DWORD kTagBase = 0x00400000u;
constexpr HKEY kKeyBase = 0x00001000u;
constexpr HMODULE kKernel32 = 1;
constexpr HANDLE kCurrentThread = -2;

// K, the look-ups, TraceCall and the file calls are on the path of every timed
// transfer and marked hot: kept together with the program's transfer code,
// they cost fewer cold pages to a first transfer after a pause.
[[gnu::hot]] Kernel& K() {
  static Kernel kernel;
  return kernel;
}

// The machine of a thread the program started; empty on the main thread.
std::shared_ptr<Machine>& ThreadMachine() {
  thread_local std::shared_ptr<Machine> machine;
  return machine;
}

[[gnu::hot]] Object* Lookup(HANDLE h) {
  auto& objects = K().objects;
  if (h <= 0 || static_cast<std::size_t>(h) > objects.size()) return nullptr;
  return objects[h - 1].get();
}

HANDLE Add(std::unique_ptr<Object> object) {
  K().objects.push_back(std::move(object));
  return static_cast<HANDLE>(K().objects.size());
}

[[gnu::hot]] Object* LookupFile(HANDLE h) {
  Object* o = Lookup(h);
  return o && o->kind == Object::kFile ? o : nullptr;
}

DWORD OpenVxDHandleEntry(HANDLE event) {
  TraceCall("OpenVxDHandle");
  Object* o = Lookup(event);
  if (!o || o->kind != Object::kEvent) return 0;
  K().ringZero.push_back(o->event.get());
  return kRingZeroBase + static_cast<DWORD>(K().ringZero.size() - 1);
}

bool IEquals(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

bool ResolveKey(HKEY key, HKEY* root, std::string* path) {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_DYN_DATA) {
    *root = key;
    path->clear();
    return true;
  }
  if (key < kKeyBase || key - kKeyBase >= K().keys.size()) return false;
  const RegistryKey& k = K().keys[key - kKeyBase];
  if (k.root == 0) return false;
  *root = k.root;
  *path = k.path;
  return true;
}

}  // namespace

Machine* ActiveMachine() { return K().machine.get(); }

void SetMachine(std::unique_ptr<Machine> machine) {
  ResetKernel();
  K().machine = std::move(machine);
}

void ResetKernel() {
  Kernel& k = K();
  k.objects.clear();
  k.ringZero.clear();
  k.addressTags.clear();
  k.keys.clear();
  k.errorMode = 0;
}

bool SignalRingZero(DWORD ringZeroHandle) {
  auto& events = K().ringZero;
  if (ringZeroHandle < kRingZeroBase || ringZeroHandle - kRingZeroBase >= events.size()) return false;
  events[ringZeroHandle - kRingZeroBase]->Set();
  return true;
}

void SetCallTrace(CallTrace trace) { K().trace = trace; }

[[gnu::hot]] void TraceCall(const char* call) {
  if (K().trace) K().trace(call);
}

void SetMessageBoxHandler(MessageBoxHandler handler) { K().messageBox = handler; }

}  // namespace win32

using win32::K;
using win32::TraceCall;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void*, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE) {
  TraceCall("CreateFileA");
  win32::Machine* m = win32::ActiveMachine();
  if (!m || !fileName || (creationDisposition != OPEN_EXISTING && creationDisposition != 0)) {
    return INVALID_HANDLE_VALUE;
  }
  std::unique_ptr<win32::Device> device = m->Open(fileName, desiredAccess, shareMode, flagsAndAttributes);
  if (!device) return INVALID_HANDLE_VALUE;
  auto object = std::make_unique<win32::Object>();
  object->kind = win32::Object::kFile;
  object->device = std::move(device);
  return win32::Add(std::move(object));
}

BOOL CloseHandle(HANDLE h) {
  TraceCall("CloseHandle");
  if (!win32::Lookup(h)) return FALSE;
  K().objects[h - 1].reset();  // the device closes here
  return TRUE;
}

[[gnu::hot]] DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod) {
  TraceCall("SetFilePointer");
  win32::Object* o = win32::LookupFile(file);
  if (!o || moveMethod != FILE_BEGIN) return INVALID_SET_FILE_POINTER;
  std::int64_t high = distanceHigh ? *distanceHigh : (distanceLow < 0 ? -1 : 0);
  std::int64_t position =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(high) << 32 | static_cast<DWORD>(distanceLow));
  if (position < 0) return INVALID_SET_FILE_POINTER;
  o->position = position;
  if (distanceHigh) *distanceHigh = static_cast<LONG>(position >> 32);
  return static_cast<DWORD>(position);
}

[[gnu::hot]] BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void*) {
  TraceCall("ReadFile");
  win32::Object* o = win32::LookupFile(file);
  DWORD moved = 0;
  bool ok = o && o->device->Read(o->position, buffer, bytesToRead, &moved);
  if (o) o->position += moved;
  if (bytesRead) *bytesRead = moved;
  return ok ? TRUE : FALSE;
}

[[gnu::hot]] BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void*) {
  TraceCall("WriteFile");
  win32::Object* o = win32::LookupFile(file);
  DWORD moved = 0;
  bool ok = o && o->device->Write(o->position, buffer, bytesToWrite, &moved);
  if (o) o->position += moved;
  if (bytesWritten) *bytesWritten = moved;
  return ok ? TRUE : FALSE;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* bytesReturned, void*) {
  TraceCall("DeviceIoControl");
  win32::Object* o = win32::LookupFile(device);
  DWORD returned = 0;
  bool ok = o && o->device->IoControl(code, in, inSize, out, outSize, &returned);
  if (bytesReturned) *bytesReturned = returned;
  return ok ? TRUE : FALSE;
}

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char*) {
  TraceCall("CreateEventA");
  auto object = std::make_unique<win32::Object>();
  object->kind = win32::Object::kEvent;
  object->event = std::make_unique<win32::Event>(manualReset != FALSE, initialState != FALSE);
  return win32::Add(std::move(object));
}

BOOL SetEvent(HANDLE event) {
  TraceCall("SetEvent");
  win32::Object* o = win32::Lookup(event);
  if (!o || o->kind != win32::Object::kEvent) return FALSE;
  o->event->Set();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  TraceCall("WaitForSingleObject");
  win32::Object* o = win32::Lookup(object);
  win32::Machine* m = win32::ActiveMachine();
  if (!o || o->kind != win32::Object::kEvent || !m) return WAIT_FAILED;
  if (o->event->TryTake()) return WAIT_OBJECT_0;
  if (milliseconds > 0 && m->Wait(*o->event, milliseconds)) return WAIT_OBJECT_0;
  m->WaitGaveUp();
  return WAIT_TIMEOUT;
}

HMODULE GetModuleHandleA(const char* moduleName) {
  TraceCall("GetModuleHandleA");
  return moduleName && win32::IEquals(moduleName, "KERNEL32") ? win32::kKernel32 : 0;
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
  TraceCall("GetProcAddress");
  win32::Machine* m = win32::ActiveMachine();
  if (module != win32::kKernel32 || !procName || !m) return nullptr;
  if (std::strcmp(procName, "OpenVxDHandle") == 0 && m->HasOpenVxDHandle()) {
    return reinterpret_cast<FARPROC>(&win32::OpenVxDHandleEntry);
  }
  return nullptr;
}

BOOL GetVersionExA(OSVERSIONINFOA* info) {
  TraceCall("GetVersionExA");
  win32::Machine* m = win32::ActiveMachine();
  if (!info || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) || !m) return FALSE;
  DWORD platform = m->PlatformId();
  std::memset(info, 0, sizeof(*info));
  info->dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  info->dwPlatformId = platform;
  info->dwMajorVersion = 4;
  info->dwMinorVersion = platform == VER_PLATFORM_WIN32_WINDOWS ? 10 : 0;
  return TRUE;
}

UINT SetErrorMode(UINT mode) {
  TraceCall("SetErrorMode");
  UINT previous = K().errorMode;
  K().errorMode = mode;
  return previous;
}

UINT GetDriveTypeA(const char* rootPathName) {
  TraceCall("GetDriveTypeA");
  win32::Machine* m = win32::ActiveMachine();
  return m && rootPathName ? m->DriveType(rootPathName) : DRIVE_NO_ROOT_DIR;
}

BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters) {
  TraceCall("GetDiskFreeSpaceA");
  win32::Machine* m = win32::ActiveMachine();
  win32::VolumeSpace space;
  if (!m || !rootPathName || !m->DiskFreeSpace(rootPathName, &space)) return FALSE;
  if (sectorsPerCluster) *sectorsPerCluster = space.sectorsPerCluster;
  if (bytesPerSector) *bytesPerSector = space.bytesPerSector;
  if (numberOfFreeClusters) *numberOfFreeClusters = space.freeClusters;
  if (totalNumberOfClusters) *totalNumberOfClusters = space.totalClusters;
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  TraceCall("QueryPerformanceFrequency");
  win32::Machine* m = win32::ActiveMachine();
  if (!frequency || !m) return FALSE;
  frequency->QuadPart = m->CounterFrequency();
  return TRUE;
}

[[gnu::hot]] BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  TraceCall("QueryPerformanceCounter");
  win32::Machine* m = win32::ActiveMachine();
  if (!count || !m) return FALSE;
  count->QuadPart = m->Counter();
  return TRUE;
}

void Sleep(DWORD milliseconds) {
  TraceCall("Sleep");
  if (win32::Machine* m = win32::ActiveMachine()) m->Sleep(milliseconds);
}

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE startAddress, void* parameter, DWORD, DWORD* threadId) {
  TraceCall("CreateThread");
  win32::Machine* m = win32::ActiveMachine();
  if (!startAddress) return 0;
  if (m) m->ThreadStarted();
  std::thread([startAddress, parameter, machine = K().machine] {
    win32::ThreadMachine() = machine;
    startAddress(parameter);
    win32::ThreadMachine().reset();
  }).detach();
  auto object = std::make_unique<win32::Object>();
  object->kind = win32::Object::kThread;
  HANDLE h = win32::Add(std::move(object));
  if (threadId) *threadId = static_cast<DWORD>(h);
  return h;
}

HANDLE GetCurrentThread() { return win32::kCurrentThread; }

BOOL SetThreadPriority(HANDLE thread, int priority) {
  win32::Machine* m = win32::ThreadMachine() ? win32::ThreadMachine().get() : win32::ActiveMachine();
  if (thread != win32::kCurrentThread || !m) return FALSE;
  if (priority == THREAD_PRIORITY_IDLE) m->LowerThreadToIdle();
  return TRUE;
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM, HKEY* result) {
  TraceCall("RegOpenKeyExA");
  win32::Machine* m = win32::ActiveMachine();
  HKEY root = 0;
  std::string path;
  if (!m || !result || !win32::ResolveKey(key, &root, &path)) return ERROR_FILE_NOT_FOUND;
  if (subKey && *subKey) path = path.empty() ? subKey : path + "\\" + subKey;
  if (!m->RegistryKeyExists(root, path)) return ERROR_FILE_NOT_FOUND;
  K().keys.push_back({root, path});
  *result = win32::kKeyBase + static_cast<HKEY>(K().keys.size() - 1);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
  TraceCall("RegQueryValueExA");
  win32::Machine* m = win32::ActiveMachine();
  HKEY root = 0;
  std::string path;
  std::string value;
  if (!m || key == HKEY_LOCAL_MACHINE || key == HKEY_DYN_DATA || !win32::ResolveKey(key, &root, &path) ||
      !m->RegistryValue(root, path, valueName ? valueName : "", &value)) {
    return ERROR_FILE_NOT_FOUND;
  }
  if (type) *type = REG_SZ;
  DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (!dataSize) return data ? ERROR_MORE_DATA : ERROR_SUCCESS;
  DWORD room = *dataSize;
  *dataSize = needed;
  if (!data) return ERROR_SUCCESS;
  if (room < needed) return ERROR_MORE_DATA;
  std::memcpy(data, value.c_str(), needed);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  TraceCall("RegCloseKey");
  if (key < win32::kKeyBase || key - win32::kKeyBase >= K().keys.size()) return ERROR_FILE_NOT_FOUND;
  win32::RegistryKey& k = K().keys[key - win32::kKeyBase];
  if (k.root == 0) return ERROR_FILE_NOT_FOUND;
  k = {0, {}};
  return ERROR_SUCCESS;
}

int MessageBoxA(HWND, const char* text, const char* caption, UINT type) {
  TraceCall("MessageBoxA");
  if (K().messageBox) return K().messageBox(text ? text : "", caption ? caption : "", type);
  std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return IDOK;
}

DWORD PtrToUlong(const void* block) {
  auto& tags = K().addressTags;
  void* p = const_cast<void*>(block);
  auto it = std::find(tags.begin(), tags.end(), p);
  if (it == tags.end()) it = tags.insert(tags.end(), p);
  return win32::kTagBase + 16 * static_cast<DWORD>(it - tags.begin());
}

void* UlongToPtr(DWORD address) {
  auto& tags = K().addressTags;
  DWORD offset = address - win32::kTagBase;
  if (address < win32::kTagBase || offset % 16 != 0 || offset / 16 >= tags.size()) return nullptr;
  return tags[offset / 16];
}
