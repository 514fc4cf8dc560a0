// Read-only facts about a block device or image file, taken from sysfs,
// libblkid and the kernel's mount and swap tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host.h"
#include "windows.h"

namespace host {

// One used entry of the device's partition table.
struct PartitionEntry {
  std::int64_t start = 0;   // bytes
  std::int64_t length = 0;  // bytes
  DWORD number = 0;
  BYTE type = 0;            // never 0: an entry we report is a used entry
  bool boot = false;
};

struct DeviceFacts {
  bool blockDevice = false;
  bool removable = false;
  DWORD diskSignature = 0;  // the MBR's disk id, where there is one
  std::vector<PartitionEntry> partitions;
  DeviceUse use;
};

// The one-byte type we give a used entry whose table has no such byte (GPT
// and others) and the entry that stands for a device in use or with a
// signature but without partitions.
constexpr BYTE kOtherUsedType = 0x7F;

DeviceFacts Inspect(const std::string& path);

// The name the device map gives the device: the kernel's vendor and model;
// a loop device: its backing file's name; an image file: its own name.
std::string Identify(const std::string& path);

// Compares names so that digits count as numbers ("sd2" before "sd10").
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace host
