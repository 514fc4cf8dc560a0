// A simulated computer and a scripted front end for in-process tests of the
// program's own code.
#pragma once

#include <string>
#include <vector>

#include "sim.h"

// Makes the machine of `json` active, with a fresh kernel, drive module and
// application; runs the drive module's start step. Fails the test on a bad file.
SimMachine* UseMachine(const std::string& json);
// A headless front end with this script; its transcript is kept in memory.
void UseScript(const std::string& script);
// The transcript so far, emptied.
std::string TakeTranscript();
// Creates the two windows as start-up does (after discovery).
void CreateWindows();

// The whole program on `json` with this script, in a fresh working folder:
// the transcript and the log file ("<no log>" when there is none).
struct ProgramRun {
  std::string transcript;
  std::string log;
};
ProgramRun RunProgram(const std::string& json, const std::string& script);
// The lines of a log (CR LF endings checked and removed).
std::vector<std::string> LogLines(const std::string& log);

// Records the kernel and form-library calls in order while alive.
class CallRecorder {
 public:
  CallRecorder();
  ~CallRecorder();
  const std::vector<std::string>& calls() const;
};
