#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

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
