#include "host/card/card_holders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace host {
namespace {

// Mount points in /proc/self/mountinfo write a blank, a tab, a line end and
// a backslash as three octal digits.
std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      int value = 0;
      bool octal = true;
      for (size_t k = i + 1; k <= i + 3 && octal; ++k) {
        octal = text[k] >= '0' && text[k] <= '7';
        value = value * 8 + (text[k] - '0');
      }
      if (octal) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// Whether the block device numbered device is the disk named disk or one of
// its partitions.
bool OnDisk(const std::string& sysfs, dev_t device, const std::string& disk) {
  SysfsDisk entry;
  return ReadSysfsDisk(sysfs, device, &entry) && (entry.name == disk || entry.wholeDisk == disk);
}

// A mounted file system on the disk or one of its partitions.
std::string MountOn(const std::string& sysfs, const std::string& disk) {
  std::vector<MountedDevice> mounts = MountsOn(disk, sysfs);
  if (mounts.empty()) return std::string();
  return mounts[0].device + " is mounted on " + mounts[0].mountPoint + "; unmount it first";
}

std::string ProcessName(const std::string& pid) {
  std::ifstream file("/proc/" + pid + "/comm");
  std::string name;
  std::getline(file, name);
  return name.empty() ? "process " + pid : "process " + pid + " (" + name + ")";
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// Another process with a descriptor open on the disk or one of its
// partitions.
std::string ProcessOn(const std::string& sysfs, const std::string& disk) {
  DIR* processes = opendir("/proc");
  if (processes == nullptr) return std::string();
  std::string found;
  const std::string self = std::to_string(getpid());
  while (dirent* process = readdir(processes)) {
    std::string pid = process->d_name;
    if (!IsNumber(pid) || pid == self) continue;
    std::string folder = "/proc/" + pid + "/fd";
    DIR* descriptors = opendir(folder.c_str());
    if (descriptors == nullptr) continue;
    while (dirent* descriptor = readdir(descriptors)) {
      struct stat status;
      if (!IsNumber(descriptor->d_name)) continue;
      if (stat((folder + "/" + descriptor->d_name).c_str(), &status) != 0) continue;
      if (S_ISBLK(status.st_mode) && OnDisk(sysfs, status.st_rdev, disk)) {
        found = ProcessName(pid) + " has it open";
        break;
      }
    }
    closedir(descriptors);
    if (!found.empty()) break;
  }
  closedir(processes);
  return found;
}

// The process holding a whole-file lock on the file, from /proc/locks:
// "1: FLOCK  ADVISORY  WRITE 4242 fe:01:1234 0 EOF".
std::string LockHolder(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return std::string();
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, mode, pid, file;
    fields >> number >> kind;
    if (kind == "->") fields >> kind;  // a waiter, listed under the holder
    fields >> advisory >> mode >> pid >> file;
    unsigned major_ = 0, minor_ = 0;
    unsigned long long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%llu", &major_, &minor_, &inode) != 3) continue;
    if (makedev(major_, minor_) != status.st_dev || inode != status.st_ino) continue;
    if (pid == std::to_string(getpid())) continue;
    return ProcessName(pid) + " holds " + path + " locked";
  }
  return std::string();
}

}  // namespace

std::vector<MountedDevice> MountsOn(const std::string& disk, const std::string& sysfs) {
  std::vector<MountedDevice> found;
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point;
    fields >> id >> parent >> numbers >> root >> point;
    unsigned major_ = 0, minor_ = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major_, &minor_) != 2) continue;
    dev_t device = makedev(major_, minor_);
    SysfsDisk entry;
    if (!ReadSysfsDisk(sysfs, device, &entry)) continue;
    if (entry.name != disk && entry.wholeDisk != disk) continue;
    found.push_back({"/dev/" + entry.name, Unescape(point)});
  }
  return found;
}

std::vector<std::string> LoopDevicesOver(const struct stat& file, const std::string& sysfs) {
  std::vector<std::string> found;
  for (const SysfsDisk& disk : WholeDisks(sysfs)) {
    struct stat status;
    if (!disk.loop || disk.backingFile.empty() || stat(disk.backingFile.c_str(), &status) != 0 ||
        status.st_dev != file.st_dev || status.st_ino != file.st_ino) {
      continue;
    }
    std::vector<MountedDevice> mounts = MountsOn(disk.name, sysfs);
    found.push_back("/dev/" + disk.name +
                    (mounts.empty() ? "" : " (mounted on " + mounts[0].mountPoint + ")"));
  }
  return found;
}

std::string DescribeHolder(const std::string& medium, const std::string& lockedWith,
                           const std::string& sysfs) {
  struct stat status;
  if (lstat(medium.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
      stat(medium.c_str(), &status) != 0) {
    return medium + " is a link to nothing";
  }
  if (stat(medium.c_str(), &status) != 0) return medium + " cannot be reached";
  std::string found;
  if (S_ISBLK(status.st_mode)) {
    SysfsDisk disk;
    if (ReadSysfsDisk(sysfs, status.st_rdev, &disk)) {
      found = MountOn(sysfs, disk.name);
      if (found.empty()) found = ProcessOn(sysfs, disk.name);
    }
  } else {
    found = LockHolder(medium);
  }
  if (found.empty() && !lockedWith.empty()) found = LockHolder(lockedWith);
  return found.empty() ? "another program holds it" : found;
}

}  // namespace host
