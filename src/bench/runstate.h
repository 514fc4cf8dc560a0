// The state of one test run, and what every run shares for the life of the
// process: the transfer buffer, the per-zone read times and the idle count.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

// A log line that could not be written.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text file written line by line with CR LF; every line is checked for an
// I/O error as soon as it is written.
class TextFile {
 public:
  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  TextFile(TextFile&& other) noexcept : file_(other.file_), name_(std::move(other.name_)) { other.file_ = nullptr; }
  ~TextFile() { Close(); }

  // Creates or empties the file; false when that fails.
  bool Rewrite(const std::string& name);
  void WriteLine(const std::string& line);  // throws EInOutError
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

 private:
  std::FILE* file_ = nullptr;
  std::string name_;
};

struct RunState {
  std::int64_t CounterStart = 0;
  std::int64_t CounterEnd = 0;
  std::int32_t ZoneCount = 0;
  std::int32_t ZoneSectors = 0;
  std::int32_t BlockSectors = 0;
  std::int32_t CurrentSector = 0;
  std::int64_t IdleSnapshot = 0;
  std::int32_t TransfersPerZone = 0;
  bool TransferOk = false;
  std::int64_t IdleDuringSweep = 0;
  std::int64_t CounterFrequency = 0;
  std::int32_t ZoneKBps = 0;
  double SweepSeconds = 0.0;
  std::int32_t PositionUnit = 0;
  std::string PositionUnitText;
  TextFile LogFile;
  std::int32_t LastSector = 0;
  double AccessTimeMs = 0.0;
  double BurstKBps = 0.0;
  std::int32_t MaxTransfer = 0;
  std::uint32_t DeviceFlags = 0;
};

constexpr int kTransferBufferBytes = 65536;
constexpr int kMaxTimedZones = 20000;

struct BenchTables {
  // Aligned for direct I/O on this computer's devices.
  alignas(4096) std::uint8_t TransferBuffer[kTransferBufferBytes];
  // Entry q: ticks of one read transfer in zone q of the latest read sweep.
  std::int32_t ReadTicksPerTransfer[kMaxTimedZones + 1];
};

extern BenchTables Bench;

// Written by the counting thread only; read whole by the main thread.
extern std::atomic<std::int64_t> IdleCounter;
extern std::atomic<bool> IdleStop;

// Rounds to the nearest integer, halves to even.
std::int64_t RoundHalfEven(long double value);
