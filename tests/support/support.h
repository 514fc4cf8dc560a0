// Small helpers the tests and benchmarks share: shell commands, whole files
// and loop devices attached to files of their own.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace testsupport {

// Runs a shell command; its output is kept out of the test log.
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// The first line a command prints, "" when it fails.
inline std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (!pipe) return out;
  char line[512];
  if (std::fgets(line, sizeof line, pipe)) out = line;
  if (pclose(pipe) != 0) return "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// A whole file, or "<no log>" when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<no log>";
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A loop device on a file of the test's own, attached for direct I/O and
// detached when it goes out of scope (also when the test fails).
class LoopDevice {
 public:
  explicit LoopDevice(const std::filesystem::path& file, bool partitions = false)
      : path_(Capture("losetup --find --show --direct-io=on " + std::string(partitions ? "--partscan " : "") +
                      file.string())) {}
  ~LoopDevice() { Detach(); }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  void Detach() {
    // A device still open elsewhere (a probe by udev) is detached by the
    // kernel when it is closed.
    if (!path_.empty()) Shell("losetup -d " + path_);
    path_.clear();
  }
  const std::string& path() const { return path_; }
  bool ok() const { return !path_.empty(); }
  // Whether the kernel kept direct I/O on (a backing file system without it turns it off).
  bool DirectIo() const {
    std::ifstream dio("/sys/block/" + std::filesystem::path(path_).filename().string() + "/loop/dio");
    int on = 0;
    return (dio >> on) && on == 1;
  }

 private:
  std::string path_;
};

}  // namespace testsupport
