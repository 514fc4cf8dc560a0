// Transfers and the three disk I/O controls of a host device. A transfer is
// timed by the program, so Read and Write make exactly one system call and
// touch nothing else.
#include "host_device.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace host {

namespace {

static_assert(std::endian::native == std::endian::little, "the replies are laid out little-endian");

constexpr DWORD kTracksPerCylinder = 255;
constexpr DWORD kSectorsPerTrack = 63;
constexpr DWORD kImageSectorSize = 512;
constexpr DWORD kMaxLayoutEntries = 14;  // what the program's 456-byte buffer holds

template <typename T>
void Put(BYTE* out, DWORD offset, T value) {
  std::memcpy(out + offset, &value, sizeof value);
}

}  // namespace

HostDevice::HostDevice(int fd, int port, std::int64_t imageSize, DeviceFacts facts)
    : fd_(fd), port_(port), imageSize_(imageSize), facts_(std::move(facts)) {}

HostDevice::~HostDevice() { close(fd_); }

// Clamp, Read and Write are on the timed path and marked hot, as the program's
// transfer code and the kernel layer are, so they share its code pages.

// An image file would grow under a write past its end; the kernel stops
// transfers at the end of a block device by itself.
[[gnu::hot]] DWORD HostDevice::Clamp(std::int64_t pos, DWORD n) const {
  if (imageSize_ < 0) return n;
  if (pos >= imageSize_) return 0;
  return static_cast<DWORD>(std::min<std::int64_t>(n, imageSize_ - pos));
}

[[gnu::hot]] bool HostDevice::Read(std::int64_t pos, void* buffer, DWORD n, DWORD* moved) {
  ssize_t got = pread(fd_, buffer, Clamp(pos, n), pos);
  *moved = got > 0 ? static_cast<DWORD>(got) : 0;
  return got >= 0;
}

[[gnu::hot]] bool HostDevice::Write(std::int64_t pos, const void* buffer, DWORD n, DWORD* moved) {
  ssize_t put = pwrite(fd_, buffer, Clamp(pos, n), pos);
  *moved = put > 0 ? static_cast<DWORD>(put) : 0;
  return put >= 0;
}

bool HostDevice::IoControl(DWORD code, void*, DWORD, void* out, DWORD outSize, DWORD* returned) {
  *returned = 0;
  if (!out) return false;
  BYTE* reply = static_cast<BYTE*>(out);
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
      return Geometry(reply, outSize, returned);
    case IOCTL_DISK_GET_DRIVE_LAYOUT:
      return Layout(reply, outSize, returned);
    case IOCTL_SCSI_GET_ADDRESS:
      return ScsiAddress(reply, outSize, returned);
    default:
      return false;
  }
}

// Cylinders(0, 64-bit) MediaType(8) TracksPerCylinder(12) SectorsPerTrack(16) BytesPerSector(20).
bool HostDevice::Geometry(BYTE* out, DWORD outSize, DWORD* returned) {
  if (outSize < DISK_GEOMETRY_SIZE) return false;
  std::uint64_t bytes = 0;
  int sectorSize = kImageSectorSize;
  if (imageSize_ >= 0) {
    bytes = static_cast<std::uint64_t>(imageSize_);
  } else if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0 || ioctl(fd_, BLKSSZGET, &sectorSize) != 0 || sectorSize <= 0) {
    return false;
  }
  // A removable medium that is mounted or held must not be offered for the
  // write test that removable drives get regardless of their content.
  bool removable = facts_.removable && !facts_.use.InUse();
  std::memset(out, 0, DISK_GEOMETRY_SIZE);
  Put<std::int64_t>(out, 0, static_cast<std::int64_t>(bytes / sectorSize / (kTracksPerCylinder * kSectorsPerTrack)));
  Put<DWORD>(out, 8, removable ? MEDIA_TYPE_REMOVABLE : MEDIA_TYPE_FIXED);
  Put<DWORD>(out, 12, kTracksPerCylinder);
  Put<DWORD>(out, 16, kSectorsPerTrack);
  Put<DWORD>(out, 20, static_cast<DWORD>(sectorSize));
  *returned = DISK_GEOMETRY_SIZE;
  return true;
}

// PartitionCount(0) Signature(4), then 32-byte entries: StartingOffset(0)
// PartitionLength(8) HiddenSectors(16) PartitionNumber(20) PartitionType(24)
// BootIndicator(25) RecognizedPartition(26) RewritePartition(27).
bool HostDevice::Layout(BYTE* out, DWORD outSize, DWORD* returned) {
  std::vector<PartitionEntry> entries = facts_.partitions;
  if (entries.empty() && !facts_.use.Blank()) {
    // In use or carrying a signature without partitions: one used entry for
    // the whole device, so the program lists it read-only.
    PartitionEntry whole;
    std::uint64_t bytes = 0;
    if (imageSize_ >= 0) {
      bytes = static_cast<std::uint64_t>(imageSize_);
    } else if (ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
      bytes = 0;
    }
    whole.length = static_cast<std::int64_t>(bytes);
    whole.number = 1;
    whole.type = kOtherUsedType;
    entries.push_back(whole);
  }
  if (outSize < DRIVE_LAYOUT_HEADER_SIZE) return false;
  DWORD room = (outSize - DRIVE_LAYOUT_HEADER_SIZE) / PARTITION_INFORMATION_SIZE;
  // A reply without room for a used entry would let a used device pass as blank.
  if (!entries.empty() && room == 0) return false;
  // More entries than fit: report those that do; any one of them marks the device used.
  DWORD count = std::min({static_cast<DWORD>(entries.size()), room, kMaxLayoutEntries});
  DWORD size = DRIVE_LAYOUT_HEADER_SIZE + count * PARTITION_INFORMATION_SIZE;
  std::memset(out, 0, size);
  Put<DWORD>(out, 0, count);
  Put<DWORD>(out, 4, facts_.diskSignature);
  for (DWORD i = 0; i < count; ++i) {
    const PartitionEntry& e = entries[i];
    BYTE* entry = out + DRIVE_LAYOUT_HEADER_SIZE + i * PARTITION_INFORMATION_SIZE;
    Put<std::int64_t>(entry, 0, e.start);
    Put<std::int64_t>(entry, 8, e.length);
    Put<DWORD>(entry, 16, static_cast<DWORD>(e.start / 512));
    Put<DWORD>(entry, 20, e.number);
    entry[24] = e.type;
    entry[25] = e.boot ? 1 : 0;
    entry[26] = 1;
  }
  *returned = size;
  return true;
}

// Length(0) PortNumber(4) PathId(5) TargetId(6) Lun(7).
bool HostDevice::ScsiAddress(BYTE* out, DWORD outSize, DWORD* returned) {
  if (port_ < 0 || outSize < SCSI_ADDRESS_SIZE) return false;
  std::memset(out, 0, SCSI_ADDRESS_SIZE);
  Put<DWORD>(out, 0, SCSI_ADDRESS_SIZE);
  out[4] = static_cast<BYTE>(port_);
  *returned = SCSI_ADDRESS_SIZE;
  return true;
}

}  // namespace host
