// The kernel services, registry and message box that Spindlex calls, under
// their Windows names. Every call is answered by the one active Machine
// (machine.h): this computer, or a simulated one.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = std::uint32_t;
using BOOL = int;
using HANDLE = std::int32_t;  // small positive numbers; they fit a 32-bit DeviceRef
using HKEY = std::uint32_t;
using HMODULE = std::int32_t;
using HWND = std::int32_t;
using REGSAM = DWORD;
using FARPROC = void (*)();
using LPTHREAD_START_ROUTINE = DWORD (*)(void*);

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct LARGE_INTEGER {
  std::int64_t QuadPart;
};

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;  // 148
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};
static_assert(sizeof(OSVERSIONINFOA) == 148);

constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// CreateFileA
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000u;

// SetFilePointer
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;

// GetVersionExA
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// SetErrorMode
constexpr UINT SEM_FAILCRITICALERRORS = 0x1;

// GetDriveTypeA
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// WaitForSingleObject
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD INFINITE = 0xFFFFFFFFu;

// SetThreadPriority
constexpr int THREAD_PRIORITY_IDLE = -15;
constexpr int THREAD_PRIORITY_NORMAL = 0;

// Standard disk I/O controls and their replies.
constexpr DWORD IOCTL_DISK_GET_DRIVE_GEOMETRY = 0x70000;
constexpr DWORD IOCTL_DISK_GET_DRIVE_LAYOUT = 0x7400C;
constexpr DWORD IOCTL_SCSI_GET_ADDRESS = 0x41018;
constexpr DWORD DISK_GEOMETRY_SIZE = 24;      // Cylinders(0, 64-bit) MediaType(8) Tracks(12) Sectors(16) Bytes(20)
constexpr DWORD PARTITION_INFORMATION_SIZE = 32;  // PartitionType at offset 24
constexpr DWORD DRIVE_LAYOUT_HEADER_SIZE = 8;     // PartitionCount(0) Signature(4)
constexpr DWORD SCSI_ADDRESS_SIZE = 8;        // Length(0) Port(4) Path(5) Target(6) Lun(7)
constexpr DWORD MEDIA_TYPE_REMOVABLE = 11;
constexpr DWORD MEDIA_TYPE_FIXED = 12;

// Registry
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_DYN_DATA = 0x80000006u;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr DWORD REG_SZ = 1;

// MessageBoxA
constexpr UINT MB_OK = 0x0;
constexpr int IDOK = 1;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL CloseHandle(HANDLE object);
// Moves the file pointer to (*distanceHigh << 32 | distanceLow) from the start;
// returns the new low part and hands the new high part back through distanceHigh.
DWORD SetFilePointer(HANDLE file, LONG distanceLow, LONG* distanceHigh, DWORD moveMethod);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* inBuffer, DWORD inBufferSize, void* outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, void* overlapped);

HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

HMODULE GetModuleHandleA(const char* moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
// The signature of KERNEL32's OpenVxDHandle, found through GetProcAddress.
using OpenVxDHandleProc = DWORD (*)(HANDLE event);

BOOL GetVersionExA(OSVERSIONINFOA* info);
UINT SetErrorMode(UINT mode);
UINT GetDriveTypeA(const char* rootPathName);
BOOL GetDiskFreeSpaceA(const char* rootPathName, DWORD* sectorsPerCluster, DWORD* bytesPerSector,
                       DWORD* numberOfFreeClusters, DWORD* totalNumberOfClusters);

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
void Sleep(DWORD milliseconds);

HANDLE CreateThread(void* securityAttributes, std::size_t stackSize, LPTHREAD_START_ROUTINE startAddress,
                    void* parameter, DWORD creationFlags, DWORD* threadId);
HANDLE GetCurrentThread();
BOOL SetThreadPriority(HANDLE thread, int priority);

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, REGSAM samDesired, HKEY* result);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LONG RegCloseKey(HKEY key);

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// The 32-bit address of a block of the caller's memory, as a driver request
// carries it, and the block behind such an address. Addresses of this
// computer are 64 bits wide, so the kernel hands out a 32-bit tag per block
// and keeps the table; a tag is never a truncated pointer.
DWORD PtrToUlong(const void* block);
void* UlongToPtr(DWORD address);
