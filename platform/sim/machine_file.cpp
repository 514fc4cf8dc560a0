// Reads a machine file. Every value is checked where it is read, so the first
// problem found becomes the one line the user sees, with the key path of the
// value at fault.
#include "machine_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

namespace sim {
namespace {

using nlohmann::json;

constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kDwordMax = 0xFFFFFFFFll;
constexpr std::int64_t kLongMin = std::numeric_limits<LONG>::min();
constexpr std::int64_t kLongMax = std::numeric_limits<LONG>::max();

// Thrown on the first problem; caught in ParseMachineText and turned into the
// error line.
struct Refusal {
  std::string line;
};

[[noreturn]] void Refuse(const std::string& path, const std::string& problem) {
  throw Refusal{(path.empty() ? std::string("(top level)") : path) + ": " + problem};
}

std::string Child(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }
std::string Index(const std::string& path, std::size_t i) { return path + "[" + std::to_string(i) + "]"; }

// Refuses anything but an object whose keys are all among the allowed ones.
void CheckObject(const json& j, const std::string& path, std::initializer_list<const char*> allowed) {
  if (!j.is_object()) Refuse(path, "must be an object");
  for (auto it = j.begin(); it != j.end(); ++it) {
    bool known = false;
    for (const char* key : allowed) known = known || it.key() == key;
    if (!known) Refuse(Child(path, it.key()), "unknown key");
  }
}

std::string RangeText(std::int64_t min, std::int64_t max) {
  if (min == 0 && max == kInt64Max) return "must be a non-negative integer";
  if (min == 1 && max == kInt64Max) return "must be a positive integer";
  return "must be an integer from " + std::to_string(min) + " to " + std::to_string(max);
}

std::int64_t Int(const json& j, const std::string& path, std::int64_t min, std::int64_t max) {
  if (!j.is_number_integer()) Refuse(path, RangeText(min, max));
  if (j.is_number_unsigned() && j.get<std::uint64_t>() > static_cast<std::uint64_t>(kInt64Max)) {
    Refuse(path, RangeText(min, max));
  }
  std::int64_t v = j.get<std::int64_t>();
  if (v < min || v > max) Refuse(path, RangeText(min, max));
  return v;
}

// Reads an optional integer key into *out, leaving the default when absent.
template <typename T>
void OptInt(const json& obj, const char* key, const std::string& path, std::int64_t min, std::int64_t max, T* out) {
  if (obj.contains(key)) *out = static_cast<T>(Int(obj[key], Child(path, key), min, max));
}

void OptBool(const json& obj, const char* key, const std::string& path, bool* out) {
  if (!obj.contains(key)) return;
  if (!obj[key].is_boolean()) Refuse(Child(path, key), "must be true or false");
  *out = obj[key].get<bool>();
}

std::string Text(const json& j, const std::string& path) {
  if (!j.is_string()) Refuse(path, "must be a text");
  return j.get<std::string>();
}

// One of a fixed set of words; returns its index.
int Word(const json& j, const std::string& path, std::initializer_list<const char*> words) {
  std::string list;
  int i = 0;
  for (const char* w : words) {
    if (j.is_string() && j.get<std::string>() == w) return i;
    list += (i++ ? ", \"" : "\"") + std::string(w) + "\"";
  }
  Refuse(path, "must be one of " + list);
}

bool IsWord(const json& j, const char* word) { return j.is_string() && j.get<std::string>() == word; }

// A single drive letter key, upper-cased, within [first, last].
char Letter(const std::string& key, const std::string& path, char first, char last) {
  char c = key.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(key[0]))) : 0;
  if (c < first || c > last) {
    Refuse(path, std::string("must be a drive letter from ") + first + " to " + last);
  }
  return c;
}

std::vector<SectorRange> Ranges(const json& j, const std::string& path, std::int64_t sectors) {
  if (!j.is_array()) Refuse(path, "must be a list of [first, count] pairs");
  std::vector<SectorRange> ranges;
  for (std::size_t i = 0; i < j.size(); ++i) {
    std::string at = Index(path, i);
    const json& pair = j[i];
    if (!pair.is_array() || pair.size() != 2) Refuse(at, "must be a [first, count] pair");
    SectorRange r;
    r.first = Int(pair[0], Index(at, 0), 0, kInt64Max);
    r.count = Int(pair[1], Index(at, 1), 1, kInt64Max);
    if (r.first >= sectors || r.count > sectors - r.first) {
      Refuse(at, "lies outside the medium's " + std::to_string(sectors) + " sectors");
    }
    ranges.push_back(r);
  }
  return ranges;
}

Timing ReadTiming(const json& j, const std::string& path) {
  CheckObject(j, path, {"seek", "readStart", "readEnd", "writeStart", "writeEnd"});
  Timing t;
  OptInt(j, "seek", path, 0, kInt64Max, &t.seek);
  OptInt(j, "readStart", path, 0, kInt64Max, &t.readStart);
  OptInt(j, "readEnd", path, 0, kInt64Max, &t.readEnd);
  t.writeStart = t.readStart;  // writes run at the read rates unless told otherwise
  t.writeEnd = t.readEnd;
  OptInt(j, "writeStart", path, 0, kInt64Max, &t.writeStart);
  OptInt(j, "writeEnd", path, 0, kInt64Max, &t.writeEnd);
  return t;
}

// The geometry a disk reports when the file gives none, as this computer's
// own disks report it.
Geometry DerivedGeometry(const DriveConfig& d) {
  Geometry g;
  g.bytesPerSector = static_cast<DWORD>(d.sectorSize);
  g.cylinders = d.sectors / (255 * 63);
  return g;
}

Geometry ReadGeometry(const json& j, const std::string& path, const DriveConfig& d) {
  CheckObject(j, path, {"cylinders", "tracksPerCylinder", "sectorsPerTrack", "mediaType", "bytesPerSector"});
  Geometry g = DerivedGeometry(d);
  OptInt(j, "tracksPerCylinder", path, 0, kDwordMax, &g.tracksPerCylinder);
  OptInt(j, "sectorsPerTrack", path, 0, kDwordMax, &g.sectorsPerTrack);
  std::int64_t perCylinder = std::int64_t{g.tracksPerCylinder} * g.sectorsPerTrack;
  g.cylinders = perCylinder ? d.sectors / perCylinder : 0;
  OptInt(j, "cylinders", path, 0, kInt64Max, &g.cylinders);
  OptInt(j, "mediaType", path, 0, kDwordMax, &g.mediaType);
  OptInt(j, "bytesPerSector", path, 0, kDwordMax, &g.bytesPerSector);
  return g;
}

ScsiAddress ReadScsi(const json& j, const std::string& path) {
  CheckObject(j, path, {"port", "path", "target", "lun"});
  ScsiAddress a;
  OptInt(j, "port", path, 0, 255, &a.port);
  OptInt(j, "path", path, 0, 255, &a.path);
  OptInt(j, "target", path, 0, 255, &a.target);
  OptInt(j, "lun", path, 0, 255, &a.lun);
  return a;
}

std::string ImagePath(const json& j, const std::string& path, const std::string& baseDir) {
  std::string name = Text(j, path);
  if (name.empty()) Refuse(path, "must name a file");
  std::filesystem::path p(name);
  if (p.is_relative() && !baseDir.empty()) p = std::filesystem::path(baseDir) / p;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec)) Refuse(path, "no such image file: " + p.string());
  return p.string();
}

DriveConfig ReadDrive(const json& j, const std::string& path, const std::string& baseDir) {
  CheckObject(j, path, {"sectors", "sectorSize", "open", "geometry", "layout", "scsi", "identifier", "image", "bad",
                        "short", "timing"});
  if (!j.contains("sectors")) Refuse(Child(path, "sectors"), "missing: every drive needs its sector count");
  DriveConfig d;
  d.sectors = Int(j["sectors"], Child(path, "sectors"), 0, kInt64Max);
  OptInt(j, "sectorSize", path, 1, kDwordMax, &d.sectorSize);
  if (d.sectors > kInt64Max / d.sectorSize) Refuse(Child(path, "sectors"), "the medium is too large");
  OptBool(j, "open", path, &d.open);

  d.geometry = DerivedGeometry(d);
  if (j.contains("geometry")) {
    const json& g = j["geometry"];
    if (IsWord(g, "fails")) {
      d.geometryFails = true;
    } else if (g.is_object()) {
      d.geometry = ReadGeometry(g, Child(path, "geometry"), d);
    } else {
      Refuse(Child(path, "geometry"), "must be an object or \"fails\"");
    }
  }
  if (j.contains("layout")) {
    const json& l = j["layout"];
    std::string at = Child(path, "layout");
    if (IsWord(l, "fails")) {
      d.layoutFails = true;
    } else if (l.is_array()) {
      for (std::size_t i = 0; i < l.size(); ++i) d.layout.push_back(static_cast<BYTE>(Int(l[i], Index(at, i), 0, 255)));
    } else {
      Refuse(at, "must be a list of partition types or \"fails\"");
    }
  }
  if (j.contains("scsi")) {
    const json& s = j["scsi"];
    if (IsWord(s, "fails")) {
      d.scsiFails = true;
    } else if (s.is_object()) {
      d.scsi = ReadScsi(s, Child(path, "scsi"));
    } else {
      Refuse(Child(path, "scsi"), "must be an object or \"fails\"");
    }
  }
  if (j.contains("identifier")) d.identifier = Text(j["identifier"], Child(path, "identifier"));
  if (j.contains("image")) d.image = ImagePath(j["image"], Child(path, "image"), baseDir);
  if (j.contains("bad")) d.bad = Ranges(j["bad"], Child(path, "bad"), d.sectors);
  if (j.contains("short")) d.shortRanges = Ranges(j["short"], Child(path, "short"), d.sectors);
  if (j.contains("timing")) d.timing = ReadTiming(j["timing"], Child(path, "timing"));
  return d;
}

unsigned ReadFails(const json& j, const std::string& path) {
  if (!j.is_array()) Refuse(path, "must be a list of query names");
  unsigned bits = 0;
  for (std::size_t i = 0; i < j.size(); ++i) {
    int w = Word(j[i], Index(path, i), {"type", "capacity", "devNode", "name", "flags", "maxTransfer"});
    bits |= 1u << w;
  }
  return bits;
}

UnitConfig ReadUnit(const json& j, const std::string& path, const std::string& baseDir) {
  CheckObject(j, path, {"type", "capacity", "name", "devNode", "flags", "maxTransfer", "fails", "completion", "status",
                        "drive"});
  UnitConfig u;
  // Without a medium of its own a unit gets an empty in-memory one of its capacity.
  if (j.contains("drive")) {
    u.drive = ReadDrive(j["drive"], Child(path, "drive"), baseDir);
    u.capacity = static_cast<DWORD>(std::min(u.drive.sectors, kDwordMax));
  }
  OptInt(j, "type", path, 0, kDwordMax, &u.type);
  OptInt(j, "capacity", path, 0, kDwordMax, &u.capacity);
  if (!j.contains("drive")) {
    u.drive.sectors = u.capacity;
    u.drive.geometry = DerivedGeometry(u.drive);
  }
  if (j.contains("name")) {
    u.name = Text(j["name"], Child(path, "name"));
    if (u.name.size() > 100) Refuse(Child(path, "name"), "is longer than the 100 bytes of the name reply");
  }
  OptInt(j, "devNode", path, 0, kDwordMax, &u.devNode);
  OptInt(j, "flags", path, 0, kDwordMax, &u.flags);
  OptInt(j, "maxTransfer", path, kLongMin, kLongMax, &u.maxTransfer);
  if (j.contains("fails")) u.fails = ReadFails(j["fails"], Child(path, "fails"));
  if (j.contains("completion")) {
    u.completion = static_cast<Completion>(Word(j["completion"], Child(path, "completion"), {"normal", "never", "late"}));
  }
  OptInt(j, "status", path, kLongMin, kLongMax, &u.status);
  return u;
}

PortDriverConfig ReadPortDriver(const json& j, const std::string& path, const std::string& baseDir) {
  CheckObject(j, path, {"open", "version", "units"});
  PortDriverConfig p;
  p.present = true;
  OptBool(j, "open", path, &p.open);
  OptInt(j, "version", path, 0, kDwordMax, &p.version);
  if (j.contains("units")) {
    const json& units = j["units"];
    std::string at = Child(path, "units");
    if (!units.is_array()) Refuse(at, "must be a list of units");
    for (std::size_t i = 0; i < units.size(); ++i) p.units.push_back(ReadUnit(units[i], Index(at, i), baseDir));
  }
  return p;
}

RegistryConfig ReadRegistry(const json& j, const std::string& path) {
  if (!j.is_object()) Refuse(path, "must be an object of keys");
  RegistryConfig r;
  for (auto key = j.begin(); key != j.end(); ++key) {
    std::string at = path + "[\"" + key.key() + "\"]";
    std::string upper;
    for (char c : key.key()) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.rfind("HKEY_LOCAL_MACHINE\\", 0) != 0 && upper.rfind("HKEY_DYN_DATA\\", 0) != 0) {
      Refuse(at, "must start with HKEY_LOCAL_MACHINE\\ or HKEY_DYN_DATA\\");
    }
    if (!key.value().is_object()) Refuse(at, "must be an object of text values");
    auto& values = r[key.key()];
    for (auto v = key.value().begin(); v != key.value().end(); ++v) {
      values[v.key()] = Text(v.value(), at + "[\"" + v.key() + "\"]");
    }
  }
  return r;
}

VolumeConfig ReadVolume(const json& j, const std::string& path) {
  CheckObject(j, path, {"driveType", "sectorsPerCluster", "bytesPerSector", "freeClusters", "totalClusters"});
  VolumeConfig v;
  OptInt(j, "driveType", path, 0, 6, &v.driveType);
  OptInt(j, "sectorsPerCluster", path, 0, kDwordMax, &v.sectorsPerCluster);
  OptInt(j, "bytesPerSector", path, 0, kDwordMax, &v.bytesPerSector);
  OptInt(j, "freeClusters", path, 0, kDwordMax, &v.freeClusters);
  OptInt(j, "totalClusters", path, 0, kDwordMax, &v.totalClusters);
  return v;
}

// Drives keyed by their letter: "floppies" and "cdroms".
std::map<char, DriveConfig> ReadLettered(const json& j, const std::string& path, char first, char last,
                                         const std::string& baseDir) {
  if (!j.is_object()) Refuse(path, "must be an object keyed by drive letter");
  std::map<char, DriveConfig> drives;
  for (auto it = j.begin(); it != j.end(); ++it) {
    std::string at = Child(path, it.key());
    char letter = Letter(it.key(), at, first, last);
    if (drives.count(letter)) Refuse(at, "the letter is given twice");
    drives[letter] = ReadDrive(it.value(), at, baseDir);
  }
  return drives;
}

// Two drives that name the same SCSI address would leave the device map
// ambiguous.
void CheckIdentifiers(const MachineConfig& m) {
  std::set<std::tuple<int, int, int, int>> seen;
  for (std::size_t i = 0; i < m.drives.size(); ++i) {
    const DriveConfig& d = m.drives[i];
    if (!d.identifier || d.scsiFails) continue;
    if (!seen.insert({d.scsi.port, d.scsi.path, d.scsi.target, d.scsi.lun}).second) {
      Refuse(Child(Index("drives", i), "identifier"), "another drive already names this SCSI address");
    }
  }
}

MachineConfig ReadMachine(const json& j, const std::string& baseDir) {
  CheckObject(j, "", {"platform", "clock", "frequency", "openVxDHandle", "drives", "floppies", "cdroms", "portDriver",
                      "registry", "volumes"});
  MachineConfig m;
  if (j.contains("platform")) m.win95 = Word(j["platform"], "platform", {"nt", "win95"}) == 1;
  if (j.contains("clock")) m.realClock = Word(j["clock"], "clock", {"virtual", "real"}) == 1;
  OptInt(j, "frequency", "", 1, kInt64Max, &m.frequency);
  OptBool(j, "openVxDHandle", "", &m.openVxDHandle);
  if (j.contains("drives")) {
    if (!j["drives"].is_array()) Refuse("drives", "must be a list of drives");
    for (std::size_t i = 0; i < j["drives"].size(); ++i) {
      m.drives.push_back(ReadDrive(j["drives"][i], Index("drives", i), baseDir));
    }
  }
  if (j.contains("floppies")) m.floppies = ReadLettered(j["floppies"], "floppies", 'A', 'B', baseDir);
  if (j.contains("cdroms")) m.cdroms = ReadLettered(j["cdroms"], "cdroms", 'C', 'Z', baseDir);
  if (j.contains("portDriver")) m.portDriver = ReadPortDriver(j["portDriver"], "portDriver", baseDir);
  if (j.contains("registry")) m.registry = ReadRegistry(j["registry"], "registry");
  if (j.contains("volumes")) {
    const json& v = j["volumes"];
    if (!v.is_object()) Refuse("volumes", "must be an object keyed by drive letter");
    for (auto it = v.begin(); it != v.end(); ++it) {
      std::string at = Child("volumes", it.key());
      char letter = Letter(it.key(), at, 'A', 'Z');
      if (m.volumes.count(letter)) Refuse(at, "the letter is given twice");
      m.volumes[letter] = ReadVolume(it.value(), at);
    }
  }
  CheckIdentifiers(m);
  return m;
}

// "line L, column C" of a byte offset into the text.
std::string Place(const std::string& text, std::size_t byte) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The parser's own explanation without its numbered prefix and position.
std::string Explanation(const std::string& what) {
  std::size_t column = what.find("column ");
  std::size_t colon = what.find(": ", column == std::string::npos ? 0 : column);
  std::string s = colon == std::string::npos ? what : what.substr(colon + 2);
  for (char& c : s) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return s;
}

}  // namespace

bool ParseMachineText(const std::string& text, const std::string& baseDir, MachineConfig* config,
                      std::string* error) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::parse_error& e) {
    // The parser counts the byte it stopped at from 1.
    *error = Place(text, e.byte ? e.byte - 1 : 0) + ": invalid JSON: " + Explanation(e.what());
    return false;
  }
  try {
    *config = ReadMachine(j, baseDir);
  } catch (const Refusal& r) {
    *error = r.line;
    return false;
  }
  return true;
}

}  // namespace sim
