#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ui/spindlex.h"

#include "drive/rerode.h"
#include "frontend.h"
#include "headless.h"
#include "machine.h"
#include "ui/ufg.h"
#include "ui/zodu1.h"

namespace {

struct TranscriptBuffer {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = nullptr;
  std::size_t taken = 0;
};

TranscriptBuffer& Transcript() {
  static TranscriptBuffer buffer;
  return buffer;
}

std::vector<std::string>& Recorded() {
  static std::vector<std::string> calls;
  return calls;
}

void Record(const char* call) { Recorded().emplace_back(call); }

}  // namespace

SimMachine* UseMachine(const std::string& json) {
  SetFrontEnd(nullptr);
  ResetApplication();
  fm = nullptr;
  fg = nullptr;
  ReturnWindow = nullptr;
  SimLoadResult loaded = LoadMachineText(json, ".", "test.json");
  EXPECT_TRUE(loaded.machine) << loaded.error;
  if (!loaded.machine) return nullptr;
  auto* sim = static_cast<SimMachine*>(loaded.machine.get());
  win32::SetMachine(std::move(loaded.machine));
  Drives = DriveTable{};
  RerodeStart();
  return sim;
}

void UseScript(const std::string& script) {
  TranscriptBuffer& t = Transcript();
  if (t.file) std::fclose(t.file);
  std::free(t.data);
  t = TranscriptBuffer{};
  t.file = open_memstream(&t.data, &t.size);
  HeadlessLoadResult loaded = MakeHeadlessFrontEndFromText(script, "test.script", t.file);
  ASSERT_TRUE(loaded.frontEnd) << loaded.error;
  SetFrontEnd(std::move(loaded.frontEnd));
}

std::string TakeTranscript() {
  TranscriptBuffer& t = Transcript();
  if (!t.file) return {};
  std::fflush(t.file);
  std::string text(t.data + t.taken, t.size - t.taken);
  t.taken = t.size;
  return text;
}

void CreateWindows() {
  Application->Initialize();
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  fm->Show();
}

CallRecorder::CallRecorder() {
  Recorded().clear();
  win32::SetCallTrace(&Record);
}

CallRecorder::~CallRecorder() { win32::SetCallTrace(nullptr); }

const std::vector<std::string>& CallRecorder::calls() const { return Recorded(); }

ProgramRun RunProgram(const std::string& json, const std::string& script) {
  char folder[] = "/tmp/spindlex-run-XXXXXX";
  EXPECT_NE(mkdtemp(folder), nullptr);
  auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  UseMachine(json);
  UseScript(script);
  SpindlexMain();
  ProgramRun run;
  run.transcript = TakeTranscript();
  std::ifstream log("spindlex.log", std::ios::binary);
  if (log) {
    std::stringstream text;
    text << log.rdbuf();
    run.log = text.str();
  } else {
    run.log = "<no log>";
  }
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(folder);
  return run;
}

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
