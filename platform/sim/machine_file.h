// The machine file as plain records: what ParseMachineText makes of the JSON
// once every key has been checked and every default filled in.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "windows.h"

namespace sim {

struct SectorRange {
  std::int64_t first = 0;
  std::int64_t count = 0;
};

// Ticks per transfer: a seek when the head must move, then a per-KiB rate that
// runs linearly from the first sector's rate to the last one's.
struct Timing {
  std::int64_t seek = 0;
  std::int64_t readStart = 32;
  std::int64_t readEnd = 32;
  std::int64_t writeStart = 32;
  std::int64_t writeEnd = 32;
};

struct Geometry {
  std::int64_t cylinders = 0;
  DWORD mediaType = MEDIA_TYPE_FIXED;
  DWORD tracksPerCylinder = 255;
  DWORD sectorsPerTrack = 63;
  DWORD bytesPerSector = 512;
};

struct ScsiAddress {
  BYTE port = 0;
  BYTE path = 0;
  BYTE target = 0;
  BYTE lun = 0;
};

struct DriveConfig {
  std::int64_t sectors = 0;
  std::int64_t sectorSize = 512;
  bool open = true;
  bool geometryFails = false;
  Geometry geometry;  // derived from sectors when the file gives none
  bool layoutFails = false;
  std::vector<BYTE> layout;  // one partition type per entry
  bool scsiFails = false;
  ScsiAddress scsi;
  std::optional<std::string> identifier;
  std::string image;  // absolute or relative to the working directory; empty: in memory
  std::vector<SectorRange> bad;
  std::vector<SectorRange> shortRanges;
  Timing timing;
};

enum class Completion { kNormal, kNever, kLate };

// The per-unit driver queries that a machine file can make fail.
enum UnitQuery : unsigned {
  kQueryType = 1,
  kQueryCapacity = 2,
  kQueryDevNode = 4,
  kQueryName = 8,
  kQueryFlags = 16,
  kQueryMaxTransfer = 32,
};

struct UnitConfig {
  DWORD type = 0;
  DWORD capacity = 0;
  std::string name;
  DWORD devNode = 0;
  DWORD flags = 0;
  LONG maxTransfer = 65536;
  unsigned fails = 0;  // UnitQuery bits
  Completion completion = Completion::kNormal;
  LONG status = 0;
  DriveConfig drive;
};

struct PortDriverConfig {
  bool present = false;
  bool open = true;
  DWORD version = 259;
  std::vector<UnitConfig> units;
};

struct VolumeConfig {
  UINT driveType = DRIVE_FIXED;
  DWORD sectorsPerCluster = 8;
  DWORD bytesPerSector = 512;
  DWORD freeClusters = 0;
  DWORD totalClusters = 1000;
};

// Registry keys by full path ("HKEY_LOCAL_MACHINE\Enum\..."), each with its
// text values.
using RegistryConfig = std::map<std::string, std::map<std::string, std::string>>;

struct MachineConfig {
  bool win95 = false;
  bool realClock = false;
  std::int64_t frequency = 1000000;
  bool openVxDHandle = true;
  std::vector<DriveConfig> drives;
  std::map<char, DriveConfig> floppies;  // 'A', 'B'
  std::map<char, DriveConfig> cdroms;    // 'C'..'Z'
  PortDriverConfig portDriver;
  RegistryConfig registry;
  std::map<char, VolumeConfig> volumes;
};

// Checks and reads a machine file's text. Image paths are taken relative to
// baseDir. On failure returns false with one line "place: problem" in *error
// (the caller puts the file's name in front).
bool ParseMachineText(const std::string& text, const std::string& baseDir, MachineConfig* config,
                      std::string* error);

}  // namespace sim
