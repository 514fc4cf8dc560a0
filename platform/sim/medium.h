// One simulated medium: its sectors, where their bytes live, its faulty
// ranges, its head and what each transfer costs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "machine_file.h"
#include "windows.h"

class SimMedium {
 public:
  explicit SimMedium(const sim::DriveConfig& config);
  ~SimMedium();
  SimMedium(const SimMedium&) = delete;
  SimMedium& operator=(const SimMedium&) = delete;

  // Opens the backing image, if any; an error text, or empty on success.
  std::string Open();

  struct Outcome {
    bool ok = false;
    DWORD moved = 0;
    std::int64_t cost = 0;  // counter ticks
  };
  // Moves n bytes at byte position pos. A transfer must cover whole sectors
  // from a sector boundary; one refused for that never reaches the medium
  // and costs nothing. Every other transfer costs its ticks and moves the
  // head, whether it succeeds or not.
  Outcome Transfer(bool write, std::int64_t pos, void* buffer, DWORD n);

  // Ticks for count sectors from sector first with the head where it is now.
  std::int64_t Cost(bool write, std::int64_t first, std::int64_t count) const;

  const sim::DriveConfig& config() const { return config_; }
  std::int64_t head() const { return head_; }
  std::int64_t reads() const { return reads_; }
  std::int64_t writes() const { return writes_; }
  std::int64_t failures() const { return failures_; }
  // How many 64 KiB chunks of an in-memory medium hold written data.
  std::size_t chunksInMemory() const { return chunks_.size(); }

 private:
  static constexpr std::int64_t kChunk = 65536;

  bool Touches(const std::vector<sim::SectorRange>& ranges, std::int64_t first, std::int64_t count,
               std::int64_t* firstHit) const;
  bool Load(std::int64_t pos, BYTE* out, std::int64_t n);
  bool Store(std::int64_t pos, const BYTE* in, std::int64_t n);

  sim::DriveConfig config_;
  int fd_ = -1;  // the image; -1: the bytes live in chunks_
  std::unordered_map<std::int64_t, std::unique_ptr<BYTE[]>> chunks_;
  std::int64_t head_ = 0;
  std::int64_t reads_ = 0;
  std::int64_t writes_ = 0;
  std::int64_t failures_ = 0;
};
