// The scripted front end: user actions from a script file, every event the
// user would see written as one transcript line.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "frontend.h"

struct HeadlessLoadResult {
  std::unique_ptr<FrontEnd> frontEnd;
  std::string error;  // one line naming the file, the line and the problem
};

// scriptPath nullptr: no actions (the main window closes at the first idle
// point). The transcript goes to `transcript`.
HeadlessLoadResult MakeHeadlessFrontEnd(const char* scriptPath, std::FILE* transcript);
// The same from script text, for tests.
HeadlessLoadResult MakeHeadlessFrontEndFromText(const std::string& script, const std::string& nameForErrors,
                                                std::FILE* transcript);
