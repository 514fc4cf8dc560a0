#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim.h"

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kPhysicalDrive = "\\\\.\\PHYSICALDRIVE";
constexpr const char* kPortDriverDevice = "\\\\.\\RERODE";

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string LetterDevice(char letter) { return std::string(kDevicePrefix) + letter + ":"; }

// The letter of a root path "X:\" (or "X:"); 0 for anything else.
char RootLetter(const std::string& root) {
  if (root.size() < 2 || root[1] != ':' || !std::isalpha(static_cast<unsigned char>(root[0]))) return 0;
  if (root.size() > 3 || (root.size() == 3 && root[2] != '\\')) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
}

std::string RootName(HKEY root) {
  return root == HKEY_LOCAL_MACHINE ? "hkey_local_machine" : root == HKEY_DYN_DATA ? "hkey_dyn_data" : "";
}

// Registry key paths compare in lower case, without trailing backslashes.
std::string NormalKey(const std::string& fullPath) {
  std::string p = Lower(fullPath);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

std::string KeyPath(HKEY root, const std::string& path) { return NormalKey(RootName(root) + "\\" + path); }

void PutWord(void* out, std::size_t offset, DWORD value) { std::memcpy(static_cast<BYTE*>(out) + offset, &value, 4); }

// A handle on a disk, floppy or CD-ROM drive.
class SimDiskDevice : public win32::Device {
 public:
  SimDiskDevice(SimMachine* machine, std::string name, SimMedium* medium)
      : machine_(machine), name_(std::move(name)), medium_(medium) {}
  ~SimDiskDevice() override { machine_->DeviceClosed(name_); }

  bool Read(std::int64_t pos, void* buffer, DWORD n, DWORD* moved) override { return Move(false, pos, buffer, n, moved); }
  bool Write(std::int64_t pos, const void* buffer, DWORD n, DWORD* moved) override {
    return Move(true, pos, const_cast<void*>(buffer), n, moved);
  }
  bool IoControl(DWORD code, void*, DWORD, void* out, DWORD outSize, DWORD* returned) override;

 private:
  bool Move(bool write, std::int64_t pos, void* buffer, DWORD n, DWORD* moved) {
    auto began = std::chrono::steady_clock::now();
    SimMedium::Outcome o = medium_->Transfer(write, pos, buffer, n);
    machine_->clock().Spend(began, o.cost);
    *moved = o.moved;
    return o.ok;
  }

  SimMachine* machine_;
  std::string name_;
  SimMedium* medium_;
};

bool SimDiskDevice::IoControl(DWORD code, void*, DWORD, void* out, DWORD outSize, DWORD* returned) {
  const sim::DriveConfig& d = medium_->config();
  *returned = 0;
  switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
      if (d.geometryFails || !out || outSize < DISK_GEOMETRY_SIZE) return false;
      const sim::Geometry& g = d.geometry;
      std::memset(out, 0, DISK_GEOMETRY_SIZE);
      std::memcpy(out, &g.cylinders, 8);
      PutWord(out, 8, g.mediaType);
      PutWord(out, 12, g.tracksPerCylinder);
      PutWord(out, 16, g.sectorsPerTrack);
      PutWord(out, 20, g.bytesPerSector);
      *returned = DISK_GEOMETRY_SIZE;
      return true;
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT: {
      // A buffer too small for every entry fails the call, as it does for a
      // disk with many logical drives.
      DWORD needed = DRIVE_LAYOUT_HEADER_SIZE + PARTITION_INFORMATION_SIZE * static_cast<DWORD>(d.layout.size());
      if (d.layoutFails || !out || outSize < needed) return false;
      std::memset(out, 0, needed);
      PutWord(out, 0, static_cast<DWORD>(d.layout.size()));
      for (std::size_t i = 0; i < d.layout.size(); ++i) {
        BYTE* entry = static_cast<BYTE*>(out) + DRIVE_LAYOUT_HEADER_SIZE + PARTITION_INFORMATION_SIZE * i;
        entry[24] = d.layout[i];
      }
      *returned = needed;
      return true;
    }
    case IOCTL_SCSI_GET_ADDRESS: {
      if (d.scsiFails || !out || outSize < SCSI_ADDRESS_SIZE) return false;
      BYTE* a = static_cast<BYTE*>(out);
      PutWord(a, 0, SCSI_ADDRESS_SIZE);
      a[4] = d.scsi.port;
      a[5] = d.scsi.path;
      a[6] = d.scsi.target;
      a[7] = d.scsi.lun;
      *returned = SCSI_ADDRESS_SIZE;
      return true;
    }
    default:
      return false;
  }
}

// A handle on the port driver; the driver's state lives in the machine, so
// it survives the handle.
class SimPortDevice : public win32::Device {
 public:
  SimPortDevice(SimMachine* machine, std::string name) : machine_(machine), name_(std::move(name)) {}
  ~SimPortDevice() override { machine_->DeviceClosed(name_); }
  bool Read(std::int64_t, void*, DWORD, DWORD* moved) override {
    *moved = 0;
    return false;
  }
  bool Write(std::int64_t, const void*, DWORD, DWORD* moved) override {
    *moved = 0;
    return false;
  }
  bool IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override {
    return machine_->portDriver().IoControl(code, in, inSize, out, outSize, returned);
  }

 private:
  SimMachine* machine_;
  std::string name_;
};

}  // namespace

SimMachine::SimMachine(const sim::MachineConfig& config)
    : config_(config), clock_(config.realClock, config.frequency), portDriver_(config_.portDriver, &clock_) {
  auto addMedia = [this](const sim::DriveConfig& d, const std::string& name) {
    media_[name] = std::make_unique<SimMedium>(d);
    if (d.identifier && !d.scsiFails) {
      std::string key = "HKEY_LOCAL_MACHINE\\Hardware\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(d.scsi.port) +
                        "\\Scsi Bus " + std::to_string(d.scsi.path) + "\\Target Id " + std::to_string(d.scsi.target) +
                        "\\Logical Unit Id " + std::to_string(d.scsi.lun);
      AddRegistryKey(key);
      registryValues_[NormalKey(key)]["identifier"] = *d.identifier;
    }
  };
  for (std::size_t i = 0; i < config_.drives.size(); ++i) {
    addMedia(config_.drives[i], kPhysicalDrive + std::to_string(i));
  }
  for (const auto& [letter, d] : config_.floppies) addMedia(d, LetterDevice(letter));
  for (const auto& [letter, d] : config_.cdroms) addMedia(d, LetterDevice(letter));
  // Keys the file lists outright come last, so they win over the drives' names.
  for (const auto& [key, values] : config_.registry) {
    AddRegistryKey(key);
    for (const auto& [name, value] : values) registryValues_[NormalKey(key)][Lower(name)] = value;
  }
}

void SimMachine::AddRegistryKey(const std::string& fullPath) {
  std::string p = NormalKey(fullPath);
  for (std::size_t at = p.find('\\'); at != std::string::npos; at = p.find('\\', at + 1)) {
    registryKeys_.insert(p.substr(0, at));
  }
  registryKeys_.insert(p);
}

std::string SimMachine::OpenMedia() {
  for (auto& [name, medium] : media_) {
    std::string problem = medium->Open();
    if (problem.empty()) continue;
    std::string place;
    if (name.rfind(kPhysicalDrive, 0) == 0) {
      place = "drives[" + name.substr(std::strlen(kPhysicalDrive)) + "]";
    } else {
      char letter = name[4];
      place = (config_.floppies.count(letter) ? "floppies." : "cdroms.") + std::string(1, letter);
    }
    return place + ".image: " + problem;
  }
  return portDriver_.OpenMedia();
}

DWORD SimMachine::PlatformId() { return config_.win95 ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT; }

std::unique_ptr<win32::Device> SimMachine::Open(const std::string& name, DWORD, DWORD, DWORD) {
  std::string device = Upper(name);
  ++attempts_[device];
  std::unique_ptr<win32::Device> handle;
  if (config_.win95) {
    // Windows 95/98 has no raw disk devices here; only the port driver.
    if (device == kPortDriverDevice && config_.portDriver.present && config_.portDriver.open) {
      handle = std::make_unique<SimPortDevice>(this, device);
    }
  } else if (SimMedium* medium = DriveMedium(device); medium && medium->config().open) {
    handle = std::make_unique<SimDiskDevice>(this, device, medium);
  }
  if (handle) ++opens_[device];
  return handle;
}

SimMedium* SimMachine::DriveMedium(const std::string& device) {
  auto it = media_.find(Upper(device));
  return it == media_.end() ? nullptr : it->second.get();
}

UINT SimMachine::DriveType(const std::string& root) {
  char letter = RootLetter(root);
  if (letter && config_.cdroms.count(letter)) return DRIVE_CDROM;
  auto v = config_.volumes.find(letter);
  return v == config_.volumes.end() ? DRIVE_NO_ROOT_DIR : v->second.driveType;
}

bool SimMachine::DiskFreeSpace(const std::string& root, win32::VolumeSpace* space) {
  auto v = config_.volumes.find(RootLetter(root));
  if (v == config_.volumes.end()) return false;
  space->sectorsPerCluster = v->second.sectorsPerCluster;
  space->bytesPerSector = v->second.bytesPerSector;
  space->freeClusters = v->second.freeClusters;
  space->totalClusters = v->second.totalClusters;
  return true;
}

bool SimMachine::RegistryKeyExists(HKEY root, const std::string& path) {
  if (RootName(root).empty()) return false;
  return path.empty() || registryKeys_.count(KeyPath(root, path)) > 0;
}

bool SimMachine::RegistryValue(HKEY root, const std::string& path, const std::string& name, std::string* value) {
  auto key = registryValues_.find(KeyPath(root, path));
  if (RootName(root).empty() || key == registryValues_.end()) return false;
  auto v = key->second.find(Lower(name));
  if (v == key->second.end()) return false;
  *value = v->second;
  return true;
}

bool SimMachine::Wait(win32::Event& event, DWORD milliseconds) {
  if (clock_.real() || milliseconds == INFINITE) return win32::Machine::Wait(event, milliseconds);
  // Virtual time: nothing else can signal while the caller waits, so the
  // wait either finds the signal or lasts its whole timeout.
  if (event.TryTake()) return true;
  clock_.WaitedOut(milliseconds);
  return false;
}

int SimMachine::Count(const std::map<std::string, int>& counts, const std::string& device) {
  auto it = counts.find(Upper(device));
  return it == counts.end() ? 0 : it->second;
}

SimLoadResult LoadMachineText(const std::string& jsonText, const std::string& baseDir,
                              const std::string& nameForErrors) {
  SimLoadResult result;
  sim::MachineConfig config;
  std::string problem;
  if (!sim::ParseMachineText(jsonText, baseDir, &config, &problem)) {
    result.error = nameForErrors + ": " + problem;
    return result;
  }
  auto machine = std::make_unique<SimMachine>(config);
  problem = machine->OpenMedia();
  if (!problem.empty()) {
    result.error = nameForErrors + ": " + problem;
    return result;
  }
  result.machine = std::move(machine);
  return result;
}

SimLoadResult LoadMachineFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    SimLoadResult result;
    result.error = path + ": cannot read the machine file: " + std::strerror(errno);
    return result;
  }
  std::ostringstream text;
  text << in.rdbuf();
  std::string baseDir = std::filesystem::path(path).parent_path().string();
  return LoadMachineText(text.str(), baseDir.empty() ? "." : baseDir, path);
}

SimMachine* AsSim(win32::Machine* machine) { return dynamic_cast<SimMachine*>(machine); }
