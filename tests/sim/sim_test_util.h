// Helpers shared by the simulator's tests: make a machine from inline JSON
// active, and move sectors through the kernel calls as the program does.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "machine.h"
#include "sim.h"
#include "windows.h"

// Loads the machine text and makes it the active machine; nullptr (and a
// test failure) when it does not load.
inline SimMachine* UseMachine(const std::string& json, const std::string& baseDir = ".") {
  SimLoadResult r = LoadMachineText(json, baseDir, "test.json");
  if (!r.machine) {
    ADD_FAILURE() << r.error;
    return nullptr;
  }
  win32::SetMachine(std::move(r.machine));
  return AsSim(win32::ActiveMachine());
}

inline HANDLE OpenDevice(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                     0);
}

inline std::int64_t Now() {
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

// Positions the file pointer at byte pos, high part included; false when
// the move did not land exactly.
inline bool Seek(HANDLE h, std::int64_t pos) {
  LONG high = static_cast<LONG>(pos >> 32);
  DWORD low = SetFilePointer(h, static_cast<LONG>(static_cast<DWORD>(pos)), &high, FILE_BEGIN);
  return low == static_cast<DWORD>(pos) && high == static_cast<LONG>(pos >> 32);
}

inline bool ReadAt(HANDLE h, std::int64_t pos, void* buffer, DWORD n, DWORD* moved) {
  *moved = 0;
  return Seek(h, pos) && ReadFile(h, buffer, n, moved, nullptr) == TRUE;
}

inline bool WriteAt(HANDLE h, std::int64_t pos, const void* buffer, DWORD n, DWORD* moved) {
  *moved = 0;
  return Seek(h, pos) && WriteFile(h, buffer, n, moved, nullptr) == TRUE;
}
