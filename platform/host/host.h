// The Machine of this Linux computer: the program's kernel calls answered
// from real block devices and image files.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "machine.h"

struct HostLoadResult {
  std::unique_ptr<win32::Machine> machine;  // nullptr when error is set
  std::string error;                        // one line: the bad entry and the problem
};

// Builds the host machine from the device list (SPINDLEX_DEVICES, colon
// separated; nullptr: every whole disk of this computer).
HostLoadResult MakeHostMachine(const char* devicesEnv);

namespace host {

// The whole-disk block devices listed in a sysfs block directory, as /dev
// paths in a stable order: no size-0 devices, no loop devices without a
// backing file, no optical or floppy drives (they have drive letters).
std::vector<std::string> ListWholeDisks(const std::string& sysBlockDir = "/sys/block");

// What makes a device or image file unsafe to overwrite.
struct DeviceUse {
  bool partitioned = false;  // a partition table with entries (ours or the kernel's)
  bool signature = false;    // any signature at all, or the content could not be probed
  bool mounted = false;      // the device or one of its partitions
  bool swap = false;         // the device, a partition or the file is swap
  bool held = false;         // holders in sysfs; an image file: attached to a loop device
  bool InUse() const { return mounted || swap || held; }
  bool Blank() const { return !partitioned && !signature && !InUse(); }
};

// Looks at a block device or image file now (read only).
DeviceUse InspectUse(const std::string& path);

}  // namespace host
