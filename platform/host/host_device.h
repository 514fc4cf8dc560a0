// An opened block device or image file of this computer.
#pragma once

#include <cstdint>

#include "inspect.h"
#include "machine.h"

namespace host {

class HostDevice : public win32::Device {
 public:
  // Takes over fd. port: the device's SCSI port (its PHYSICALDRIVE number),
  // or -1 for a device without a SCSI address. imageSize: the size of an
  // image file, -1 for a block device.
  HostDevice(int fd, int port, std::int64_t imageSize, DeviceFacts facts);
  ~HostDevice() override;
  HostDevice(const HostDevice&) = delete;
  HostDevice& operator=(const HostDevice&) = delete;

  bool Read(std::int64_t pos, void* buffer, DWORD n, DWORD* moved) override;
  bool Write(std::int64_t pos, const void* buffer, DWORD n, DWORD* moved) override;
  bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override;

 private:
  DWORD Clamp(std::int64_t pos, DWORD n) const;
  bool Geometry(BYTE* out, DWORD outSize, DWORD* returned);
  bool Layout(BYTE* out, DWORD outSize, DWORD* returned);
  bool ScsiAddress(BYTE* out, DWORD outSize, DWORD* returned);

  int fd_;
  int port_;
  std::int64_t imageSize_;
  DeviceFacts facts_;
};

}  // namespace host
