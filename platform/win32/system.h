// The run time's unit start and end steps and the program end.
#pragma once

namespace win32 {

using UnitStep = void (*)();

// Registers a unit's start and end steps; start steps run in registration
// order, end steps in reverse. Returns true so it can initialise a static.
bool RegisterUnit(UnitStep start, UnitStep end);
void RunUnitStarts();
void RunUnitEnds();

// Ends the program: runs the end steps once, flushes the output, exits.
[[noreturn]] void Halt(int exitCode = 0);

// A hook run by Halt before the end steps (the front end closes its
// transcript there). nullptr: none.
void SetHaltHook(void (*hook)());

}  // namespace win32
