// The process entry. The platform decides here, once, which computer the
// program runs on and which front end shows it; a bad setting stops the
// process before anything is opened, with one line and exit status 2.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../src/ui/spindlex.h"
#include "frontend.h"
#include "headless.h"
#include "host/host.h"
#include "machine.h"
#include "sim/sim.h"
#include "system.h"
#ifdef SPINDLEX_QT
#include "qt/qtfrontend.h"
#endif

namespace {

[[noreturn]] void Refuse(const std::string& line) {
  std::fprintf(stderr, "spindlex: %s\n", line.c_str());
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const char* machineFile = std::getenv("SPINDLEX_MACHINE");
  std::unique_ptr<win32::Machine> machine;
  if (machineFile && *machineFile) {
    SimLoadResult sim = LoadMachineFile(machineFile);
    if (!sim.machine) Refuse(sim.error);
    machine = std::move(sim.machine);
  } else {
    HostLoadResult host = MakeHostMachine(std::getenv("SPINDLEX_DEVICES"));
    if (!host.machine) Refuse(host.error);
    machine = std::move(host.machine);
  }

  const char* ui = std::getenv("SPINDLEX_UI");
  std::unique_ptr<FrontEnd> frontEnd;
  if (ui && std::strcmp(ui, "headless") == 0) {
    HeadlessLoadResult headless = MakeHeadlessFrontEnd(std::getenv("SPINDLEX_SCRIPT"), stdout);
    if (!headless.frontEnd) Refuse(headless.error);
    frontEnd = std::move(headless.frontEnd);
  } else if (ui && *ui && std::strcmp(ui, "qt") != 0) {
    Refuse(std::string("SPINDLEX_UI: unknown front end \"") + ui + "\" (headless or qt)");
  } else {
#ifdef SPINDLEX_QT
    auto set = [](const char* name) { return std::getenv(name) && *std::getenv(name); };
    if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
      Refuse("no display to open the windows on: set DISPLAY, or SPINDLEX_UI=headless with a SPINDLEX_SCRIPT");
    }
    std::string error;
    std::unique_ptr<ScriptPlayer> script;
    if (const char* path = std::getenv("SPINDLEX_SCRIPT"); path && *path) {
      script = ScriptPlayer::FromFile(path, &error);
      if (!script) Refuse(error);
    }
    frontEnd = MakeQtFrontEnd(argc, argv, std::move(script));
#else
    (void)argc;
    (void)argv;
    Refuse("SPINDLEX_UI: this build has no Qt front end; use SPINDLEX_UI=headless");
#endif
  }

  win32::SetMachine(std::move(machine));
  SetFrontEnd(std::move(frontEnd));
  win32::RunUnitStarts();
  SpindlexMain();
  win32::Halt(0);
}
