#include "medium.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

SimMedium::SimMedium(const sim::DriveConfig& config) : config_(config) {}

SimMedium::~SimMedium() {
  if (fd_ >= 0) close(fd_);
}

std::string SimMedium::Open() {
  if (config_.image.empty()) return {};
  fd_ = open(config_.image.c_str(), O_RDWR | O_CLOEXEC);
  // A read-only image still serves reads; its writes fail.
  if (fd_ < 0 && (errno == EACCES || errno == EROFS)) fd_ = open(config_.image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return "cannot open " + config_.image + ": " + std::strerror(errno);
  return {};
}

std::int64_t SimMedium::Cost(bool write, std::int64_t first, std::int64_t count) const {
  const sim::Timing& t = config_.timing;
  std::int64_t start = write ? t.writeStart : t.readStart;
  std::int64_t end = write ? t.writeEnd : t.readEnd;
  // Wide intermediates only guard against absurd machine files; within 64
  // bits the result is the plain 64-bit formula.
  __int128 rate = config_.sectors ? start + static_cast<__int128>(end - start) * first / config_.sectors : start;
  __int128 cost = (first != head_ ? t.seek : 0) + static_cast<__int128>(count) * config_.sectorSize * rate / 1024;
  return static_cast<std::int64_t>(cost);
}

bool SimMedium::Touches(const std::vector<sim::SectorRange>& ranges, std::int64_t first, std::int64_t count,
                        std::int64_t* firstHit) const {
  bool hit = false;
  for (const sim::SectorRange& r : ranges) {
    std::int64_t lo = std::max(first, r.first);
    std::int64_t hi = std::min(first + count, r.first + r.count);
    if (lo < hi && (!hit || lo < *firstHit)) {
      *firstHit = lo;
      hit = true;
    }
  }
  return hit;
}

SimMedium::Outcome SimMedium::Transfer(bool write, std::int64_t pos, void* buffer, DWORD n) {
  Outcome out;
  const std::int64_t size = config_.sectorSize;
  if (pos < 0 || pos % size != 0 || n % size != 0) {
    ++failures_;
    return out;
  }
  const std::int64_t first = pos / size;
  const std::int64_t count = n / size;
  out.cost = Cost(write, first, count);
  head_ = first + count;
  ++(write ? writes_ : reads_);

  std::int64_t hit = 0;
  bool fits = first < config_.sectors && count <= config_.sectors - first;
  if (!fits || Touches(config_.bad, first, count, &hit)) {
    ++failures_;
    return out;
  }
  std::int64_t moving = count;
  if (Touches(config_.shortRanges, first, count, &hit)) moving = hit - first;  // stops before the short sector
  BYTE* bytes = static_cast<BYTE*>(buffer);
  bool moved = write ? Store(pos, bytes, moving * size) : Load(pos, bytes, moving * size);
  if (!moved) {
    ++failures_;
    return out;
  }
  out.ok = true;
  out.moved = static_cast<DWORD>(moving * size);
  return out;
}

bool SimMedium::Load(std::int64_t pos, BYTE* out, std::int64_t n) {
  if (fd_ >= 0) {
    // Bytes beyond the image's end read as zeros: the medium is as large as
    // the machine file says.
    std::int64_t done = 0;
    while (done < n) {
      ssize_t r = pread(fd_, out + done, static_cast<size_t>(n - done), pos + done);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return false;
      if (r == 0) break;
      done += r;
    }
    std::memset(out + done, 0, static_cast<size_t>(n - done));
    return true;
  }
  while (n > 0) {
    std::int64_t offset = pos % kChunk;
    std::int64_t piece = std::min(n, kChunk - offset);
    auto it = chunks_.find(pos / kChunk);
    if (it == chunks_.end()) {
      std::memset(out, 0, static_cast<size_t>(piece));
    } else {
      std::memcpy(out, it->second.get() + offset, static_cast<size_t>(piece));
    }
    pos += piece;
    out += piece;
    n -= piece;
  }
  return true;
}

bool SimMedium::Store(std::int64_t pos, const BYTE* in, std::int64_t n) {
  if (fd_ >= 0) {
    std::int64_t done = 0;
    while (done < n) {
      ssize_t w = pwrite(fd_, in + done, static_cast<size_t>(n - done), pos + done);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      done += w;
    }
    return true;
  }
  while (n > 0) {
    std::int64_t offset = pos % kChunk;
    std::int64_t piece = std::min(n, kChunk - offset);
    auto& chunk = chunks_[pos / kChunk];
    if (!chunk) chunk = std::make_unique<BYTE[]>(kChunk);  // value-initialised: zeros
    std::memcpy(chunk.get() + offset, in, static_cast<size_t>(piece));
    pos += piece;
    in += piece;
    n -= piece;
  }
  return true;
}
