#include "host/card/sysfs_disk.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace host {
namespace {

// sysfs gives sizes in 512-byte units whatever the device's sectors are.
constexpr uint64_t kSysfsSizeUnit = 512;

// The first line of a sysfs attribute, without its line end; empty when
// there is none.
std::string Attribute(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// A sysfs attribute whole, without the line end that closes it: a file name
// may hold line ends of its own.
std::string WholeAttribute(const std::string& path) {
  std::ifstream file(path);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

bool Exists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Words separated by one blank: model attributes are padded to their field.
std::string Words(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

// Reads the entry at folder (a real path into the device tree).
void ReadEntry(const std::string& folder, SysfsDisk* disk) {
  disk->name = BaseName(folder);
  bool partition = Exists(folder + "/partition");
  std::string diskFolder = folder;
  if (partition) {
    diskFolder = folder.substr(0, folder.find_last_of('/'));
    disk->wholeDisk = BaseName(diskFolder);
  }
  disk->removable = Attribute(diskFolder + "/removable") == "1";
  disk->backingFile = WholeAttribute(diskFolder + "/loop/backing_file");
  disk->loop = !partition && Exists(diskFolder + "/loop");
  disk->model = Words(Words(Attribute(diskFolder + "/device/vendor")) + " " +
                      Words(Attribute(diskFolder + "/device/model")));
  disk->bytes = std::strtoull(Attribute(folder + "/size").c_str(), nullptr, 10) * kSysfsSizeUnit;
  disk->hardware = Exists(diskFolder + "/device");
}

}  // namespace

bool ReadSysfsDisk(const std::string& sysfs, dev_t device, SysfsDisk* disk) {
  std::string link =
      sysfs + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  if (realpath(link.c_str(), resolved) == nullptr) return false;
  *disk = SysfsDisk();
  ReadEntry(resolved, disk);
  return true;
}

std::vector<std::pair<int, std::string>> DiskPartitions(const std::string& sysfs, dev_t device) {
  std::vector<std::pair<int, std::string>> partitions;
  std::string link =
      sysfs + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  if (realpath(link.c_str(), resolved) == nullptr) return partitions;
  DIR* dir = opendir(resolved);
  if (dir == nullptr) return partitions;
  while (dirent* entry = readdir(dir)) {
    std::string number = Attribute(std::string(resolved) + "/" + entry->d_name + "/partition");
    if (!number.empty()) partitions.emplace_back(std::atoi(number.c_str()), entry->d_name);
  }
  closedir(dir);
  std::sort(partitions.begin(), partitions.end());
  return partitions;
}

std::vector<SysfsDisk> RemovableDisks(const std::string& sysfs) {
  std::vector<SysfsDisk> disks;
  for (const SysfsDisk& disk : WholeDisks(sysfs)) {
    if (disk.removable && disk.bytes > 0) disks.push_back(disk);
  }
  return disks;
}

std::vector<SysfsDisk> WholeDisks(const std::string& sysfs) {
  std::vector<SysfsDisk> disks;
  std::string folder = sysfs + "/block";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return disks;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    char resolved[PATH_MAX];
    if (realpath((folder + "/" + name).c_str(), resolved) == nullptr) continue;
    SysfsDisk disk;
    ReadEntry(resolved, &disk);
    disks.push_back(disk);
  }
  closedir(dir);
  std::sort(disks.begin(), disks.end(),
            [](const SysfsDisk& a, const SysfsDisk& b) { return a.name < b.name; });
  return disks;
}

std::string DiskSizeText(uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0 || value >= 10) {
    std::snprintf(text, sizeof text, "%.0f %s", value, units[unit]);
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
}

std::string DiskText(const SysfsDisk& disk) {
  std::string model = disk.model.empty() ? "no model given" : disk.model;
  return "/dev/" + disk.name + " (" + model + ", " + DiskSizeText(disk.bytes) + ")";
}

}  // namespace host
