// Device facts for discovery. Everything here runs before any timed
// interval, so it may allocate and make as many system calls as it likes.
// Whenever a fact cannot be established the answer leans to "in use": a
// device is offered for writing only when every check came back clean.
#include "inspect.h"

#include <blkid/blkid.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace host {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

bool ParseDevNumber(const std::string& text, dev_t* dev) {
  unsigned major = 0, minor = 0;
  char colon = 0;
  std::istringstream in(text);
  if (!(in >> major >> colon >> minor) || colon != ':') return false;
  *dev = makedev(major, minor);
  return true;
}

// Undoes the octal escapes (\040 for a space) of /proc/self/mountinfo and /proc/swaps.
std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 3), nullptr, 8));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

// The devices and files a check looks for: a block device and its
// partitions by number, or an image file by its inode.
struct Target {
  std::vector<dev_t> devs;
  bool file = false;
  dev_t fileDev = 0;
  ino_t fileIno = 0;

  bool Matches(const struct stat& st) const {
    if (S_ISBLK(st.st_mode)) return std::find(devs.begin(), devs.end(), st.st_rdev) != devs.end();
    return file && S_ISREG(st.st_mode) && st.st_dev == fileDev && st.st_ino == fileIno;
  }
  bool MatchesPath(const std::string& path) const {
    struct stat st {};
    return !path.empty() && path[0] == '/' && stat(path.c_str(), &st) == 0 && Matches(st);
  }
};

// A line of mountinfo: "id parent MAJ:MIN root point options... - type source super".
bool Mounted(const Target& target) {
  std::ifstream in("/proc/self/mountinfo");
  if (!in) return true;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, number, field;
    fields >> id >> parent >> number;
    dev_t dev = 0;
    if (ParseDevNumber(number, &dev) && std::find(target.devs.begin(), target.devs.end(), dev) != target.devs.end()) {
      return true;
    }
    // File systems with their own device numbers (btrfs) name the device as the source.
    while (fields >> field && field != "-") {
    }
    std::string type, source;
    fields >> type >> source;
    if (target.MatchesPath(Unescape(source))) return true;
  }
  return false;
}

bool UsedAsSwap(const Target& target) {
  std::ifstream in("/proc/swaps");
  if (!in) return false;  // no swap support: nothing can be swap
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string path;
    fields >> path;
    if (target.MatchesPath(Unescape(path))) return true;
  }
  return false;
}

bool HasEntries(const fs::path& dir) {
  std::error_code ec;
  return fs::exists(dir, ec) && !fs::is_empty(dir, ec);
}

bool IsPartitionDir(const fs::path& dir) {
  std::error_code ec;
  return fs::exists(dir / "partition", ec);
}

// The kernel's partitions of a whole disk: subdirectories with a "partition" file.
std::vector<fs::path> PartitionDirs(const fs::path& sysDir) {
  std::vector<fs::path> parts;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysDir, ec)) {
    if (entry.is_directory(ec) && IsPartitionDir(entry.path())) parts.push_back(entry.path());
  }
  std::sort(parts.begin(), parts.end());
  return parts;
}

fs::path SysDirOf(dev_t dev) {
  std::error_code ec;
  fs::path link = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
  fs::path dir = fs::canonical(link, ec);
  return ec ? fs::path() : dir;
}

// Probes the content with libblkid: file systems, partition tables, RAID,
// LVM, swap and crypto headers all count, even with a bad checksum.
void ProbeContent(const std::string& path, DeviceFacts* facts) {
  blkid_probe probe = blkid_new_probe_from_filename(path.c_str());
  if (!probe) {
    facts->use.signature = true;
    return;
  }
  blkid_probe_enable_superblocks(probe, 1);
  blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_BADCSUM);
  blkid_probe_enable_partitions(probe, 1);
  // 1: nothing found; 0: something; negative: an error or several candidates.
  if (blkid_do_fullprobe(probe) != 1) facts->use.signature = true;

  blkid_partlist list = blkid_probe_get_partitions(probe);
  int count = list ? blkid_partlist_numof_partitions(list) : 0;
  blkid_parttable table = list ? blkid_partlist_get_table(list) : nullptr;
  bool dos = false;
  if (table) {
    const char* type = blkid_parttable_get_type(table);
    const char* id = blkid_parttable_get_id(table);
    dos = type && std::string(type) == "dos";
    if (dos && id) facts->diskSignature = static_cast<DWORD>(std::strtoul(id, nullptr, 16));
  }
  for (int i = 0; i < count; ++i) {
    blkid_partition part = blkid_partlist_get_partition(list, i);
    if (!part) continue;
    PartitionEntry entry;
    entry.start = static_cast<std::int64_t>(blkid_partition_get_start(part)) * 512;
    entry.length = static_cast<std::int64_t>(blkid_partition_get_size(part)) * 512;
    entry.number = static_cast<DWORD>(std::max(0, blkid_partition_get_partno(part)));
    int type = dos ? blkid_partition_get_type(part) : 0;
    entry.type = type > 0 && type <= 0xFF ? static_cast<BYTE>(type) : kOtherUsedType;
    entry.boot = dos && (blkid_partition_get_flags(part) & 0x80) != 0;
    facts->partitions.push_back(entry);
  }
  blkid_free_probe(probe);
}

// Partitions the kernel knows of but the probe did not list (a table
// libblkid cannot read, partitions added by hand).
void AddKernelPartitions(const fs::path& sysDir, DeviceFacts* facts) {
  if (!facts->partitions.empty()) return;
  for (const fs::path& dir : PartitionDirs(sysDir)) {
    PartitionEntry entry;
    entry.start = std::atoll(ReadLine(dir / "start").c_str()) * 512;
    entry.length = std::atoll(ReadLine(dir / "size").c_str()) * 512;
    entry.number = static_cast<DWORD>(std::atol(ReadLine(dir / "partition").c_str()));
    entry.type = kOtherUsedType;
    facts->partitions.push_back(entry);
  }
}

bool AttachedToLoop(const Target& target) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
    std::string backing = ReadLine(entry.path() / "loop" / "backing_file");
    if (target.MatchesPath(backing)) return true;
  }
  return false;
}

void InspectBlockDevice(const struct stat& st, DeviceFacts* facts) {
  facts->blockDevice = true;
  Target target;
  target.devs.push_back(st.st_rdev);
  fs::path sysDir = SysDirOf(st.st_rdev);
  if (sysDir.empty()) {
    facts->use.held = true;  // no sysfs entry: nothing can be ruled out
    return;
  }
  bool partition = IsPartitionDir(sysDir);
  facts->removable = ReadLine((partition ? sysDir.parent_path() : sysDir) / "removable") == "1";
  facts->use.held = HasEntries(sysDir / "holders");
  if (!partition) {
    AddKernelPartitions(sysDir, facts);
    for (const fs::path& dir : PartitionDirs(sysDir)) {
      dev_t dev = 0;
      if (ParseDevNumber(ReadLine(dir / "dev"), &dev)) target.devs.push_back(dev);
      if (HasEntries(dir / "holders")) facts->use.held = true;
    }
  }
  facts->use.mounted = Mounted(target);
  facts->use.swap = UsedAsSwap(target);
}

void InspectImageFile(const struct stat& st, DeviceFacts* facts) {
  Target target;
  target.file = true;
  target.fileDev = st.st_dev;
  target.fileIno = st.st_ino;
  facts->use.held = AttachedToLoop(target);
  facts->use.swap = UsedAsSwap(target);
}

}  // namespace

DeviceFacts Inspect(const std::string& path) {
  DeviceFacts facts;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !(S_ISBLK(st.st_mode) || S_ISREG(st.st_mode))) {
    facts.use.signature = true;
    return facts;
  }
  ProbeContent(path, &facts);
  if (S_ISBLK(st.st_mode)) {
    InspectBlockDevice(st, &facts);
  } else {
    InspectImageFile(st, &facts);
  }
  facts.use.partitioned = !facts.partitions.empty();
  return facts;
}

DeviceUse InspectUse(const std::string& path) { return Inspect(path).use; }

std::string Identify(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return fs::path(path).filename().string();
  fs::path sysDir = SysDirOf(st.st_rdev);
  if (sysDir.empty()) return fs::path(path).filename().string();
  fs::path disk = IsPartitionDir(sysDir) ? sysDir.parent_path() : sysDir;
  std::string backing = ReadLine(disk / "loop" / "backing_file");
  if (!backing.empty()) return fs::path(backing).filename().string();
  // Without a model (virtio) the vendor alone is a bus number, not a name.
  std::string model = ReadLine(disk / "device" / "model");
  if (model.empty()) return disk.filename().string();
  return ReadLine(disk / "device" / "vendor") + model;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace host
