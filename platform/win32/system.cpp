#include "system.h"

#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace win32 {
namespace {

struct Units {
  std::vector<std::pair<UnitStep, UnitStep>> steps;
  bool ended = false;
  void (*haltHook)() = nullptr;
};

Units& U() {
  static Units units;
  return units;
}

}  // namespace

bool RegisterUnit(UnitStep start, UnitStep end) {
  U().steps.emplace_back(start, end);
  return true;
}

void RunUnitStarts() {
  U().ended = false;
  for (auto& [start, end] : U().steps) {
    if (start) start();
  }
}

void RunUnitEnds() {
  if (U().ended) return;
  U().ended = true;
  for (auto it = U().steps.rbegin(); it != U().steps.rend(); ++it) {
    if (it->second) it->second();
  }
}

void SetHaltHook(void (*hook)()) { U().haltHook = hook; }

void Halt(int exitCode) {
  if (auto hook = std::exchange(U().haltHook, nullptr)) hook();
  RunUnitEnds();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace win32
