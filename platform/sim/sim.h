// The simulated computer: a win32::Machine built from a machine file (JSON).
// Its disks, port driver, registry and volumes are what the file says; its
// counter is virtual (moved only by transfers, sleeps and timed-out waits)
// or real.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "clock.h"
#include "machine.h"
#include "machine_file.h"
#include "medium.h"
#include "port_driver.h"

struct SimLoadResult {
  std::unique_ptr<win32::Machine> machine;  // nullptr on failure
  std::string error;                        // one line: "file: place: problem"
};

// Reads a machine file; image paths are relative to the file's folder.
SimLoadResult LoadMachineFile(const std::string& path);
// The same from text already read; nameForErrors starts the error line.
SimLoadResult LoadMachineText(const std::string& jsonText, const std::string& baseDir,
                              const std::string& nameForErrors);

class SimMachine : public win32::Machine {
 public:
  explicit SimMachine(const sim::MachineConfig& config);
  // Opens the image files; an error line ("place: problem") or empty.
  std::string OpenMedia();

  DWORD PlatformId() override;
  std::unique_ptr<win32::Device> Open(const std::string& name, DWORD access, DWORD share, DWORD flags) override;
  UINT DriveType(const std::string& root) override;
  bool DiskFreeSpace(const std::string& root, win32::VolumeSpace* space) override;
  bool RegistryKeyExists(HKEY root, const std::string& path) override;
  bool RegistryValue(HKEY root, const std::string& path, const std::string& name, std::string* value) override;
  bool HasOpenVxDHandle() override { return config_.openVxDHandle; }
  std::int64_t CounterFrequency() override { return clock_.frequency(); }
  std::int64_t Counter() override { return clock_.Now(); }
  void Sleep(DWORD milliseconds) override { clock_.Sleep(milliseconds); }
  bool Wait(win32::Event& event, DWORD milliseconds) override;
  void WaitGaveUp() override { portDriver_.WaitGaveUp(); }

  // What tests look at. Device names are taken in any letter case.
  const sim::MachineConfig& config() const { return config_; }
  SimClock& clock() { return clock_; }
  int OpenAttempts(const std::string& device) const { return Count(attempts_, device); }
  int Opens(const std::string& device) const { return Count(opens_, device); }
  int Closes(const std::string& device) const { return Count(closes_, device); }
  // The medium behind "\\.\PHYSICALDRIVEn", "\\.\A:", "\\.\E:", ...; nullptr if none.
  SimMedium* DriveMedium(const std::string& device);
  SimMedium* UnitMedium(std::size_t unit) { return portDriver_.UnitMedium(unit); }
  SimPortDriver& portDriver() { return portDriver_; }
  // The request block fields of the last read (2), write (11) or attach (14).
  const SimPortRequest* LastRequest(DWORD code) const { return portDriver_.LastRequest(code); }
  int PortCalls(DWORD code) const { return portDriver_.Calls(code); }

  // Called by a device handle as it closes.
  void DeviceClosed(const std::string& device) { ++closes_[device]; }

 private:
  static int Count(const std::map<std::string, int>& counts, const std::string& device);
  void AddRegistryKey(const std::string& fullPath);

  sim::MachineConfig config_;
  SimClock clock_;
  std::map<std::string, std::unique_ptr<SimMedium>> media_;  // by upper-case device name
  SimPortDriver portDriver_;
  // Lower-case full key paths ("hkey_local_machine\enum\..."), every parent
  // of a listed key included; values by lower-case name.
  std::set<std::string> registryKeys_;
  std::map<std::string, std::map<std::string, std::string>> registryValues_;
  std::map<std::string, int> attempts_;
  std::map<std::string, int> opens_;
  std::map<std::string, int> closes_;
};

// The simulated machine behind a Machine pointer; nullptr for any other.
SimMachine* AsSim(win32::Machine* machine);
