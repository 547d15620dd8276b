#include "host/card/card_holders.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "host/card/card_medium.h"

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

bool Holds(const std::vector<dev_t>& devices, dev_t device) {
  return std::find(devices.begin(), devices.end(), device) != devices.end();
}

// The first line of a sysfs attribute.
std::string Attribute(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

// A sysfs "dev" attribute, "7:3".
bool ReadDeviceNumber(const std::string& path, dev_t* device) {
  unsigned major_ = 0, minor_ = 0;
  if (std::sscanf(Attribute(path).c_str(), "%u:%u", &major_, &minor_) != 2) return false;
  *device = makedev(major_, minor_);
  return true;
}

// The sysfs folder of the block device numbered device, or empty.
std::string SysfsFolder(const std::string& sysfs, dev_t device) {
  std::string link =
      sysfs + "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  return realpath(link.c_str(), resolved) == nullptr ? std::string() : std::string(resolved);
}

// The device and its partitions (the folders below it that are one).
std::vector<dev_t> WithPartitions(const std::string& sysfs, dev_t device) {
  std::vector<dev_t> devices = {device};
  std::string folder = SysfsFolder(sysfs, device);
  DIR* dir = folder.empty() ? nullptr : opendir(folder.c_str());
  if (dir == nullptr) return devices;
  while (dirent* entry = readdir(dir)) {
    std::string below = folder + "/" + entry->d_name;
    struct stat status;
    dev_t partition = 0;
    if (entry->d_name[0] == '.' || stat((below + "/partition").c_str(), &status) != 0 ||
        !ReadDeviceNumber(below + "/dev", &partition)) {
      continue;
    }
    devices.push_back(partition);
  }
  closedir(dir);
  return devices;
}

// "/dev/sdc1" for a device sysfs knows, else its numbers.
std::string DeviceName(const std::string& sysfs, dev_t device) {
  SysfsDisk entry;
  if (ReadSysfsDisk(sysfs, device, &entry)) return "/dev/" + entry.name;
  return "the device " + std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// The file systems mounted from any of the devices, by the numbers
// /proc/self/mountinfo gives each mount.
std::vector<MountedDevice> MountsOf(const std::vector<dev_t>& devices, const std::string& sysfs) {
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
    if (Holds(devices, device)) found.push_back({DeviceName(sysfs, device), Unescape(point)});
  }
  return found;
}

// A device of the kernel's that holds any of the devices (a device mapper
// or RAID device over them: sysfs' holders folders), as "/dev/dm-0".
std::string HolderOf(const std::vector<dev_t>& devices, const std::string& sysfs) {
  for (dev_t device : devices) {
    std::string folder = SysfsFolder(sysfs, device);
    DIR* dir = folder.empty() ? nullptr : opendir((folder + "/holders").c_str());
    if (dir == nullptr) continue;
    std::string holder;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') {
        holder = std::string("/dev/") + entry->d_name;
        break;
      }
    }
    closedir(dir);
    if (!holder.empty()) return holder;
  }
  return std::string();
}

// The status of the loop device named name in sysfs, numbered device, read
// on the device itself: opened through its number's own name in /dev/block
// (or, where udev made none, its kernel name) and taken only when the
// descriptor is that device.
bool ReadLoopStatus(const std::string& name, dev_t device, LoopStatus* loop) {
  const std::string byNumber =
      "/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  int fd = open(byNumber.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) fd = open(("/dev/" + name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat status;
  loop_info64 info = {};
  bool read = fstat(fd, &status) == 0 && S_ISBLK(status.st_mode) && status.st_rdev == device &&
              ioctl(fd, LOOP_GET_STATUS64, &info) == 0;
  close(fd);
  if (!read) return false;
  loop->fileDevice = DecodeLoopDevice(info.lo_device);
  loop->fileInode = static_cast<ino_t>(info.lo_inode);
  loop->fileRdev = DecodeLoopDevice(info.lo_rdevice);
  return true;
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

// Another process with a descriptor open on any of the devices.
std::string ProcessOn(const std::vector<dev_t>& devices) {
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
      if (S_ISBLK(status.st_mode) && Holds(devices, status.st_rdev)) {
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
  dev_t device = 0;
  if (!ReadDeviceNumber(sysfs + "/block/" + disk + "/dev", &device)) return {};
  return MountsOf(WithPartitions(sysfs, device), sysfs);
}

dev_t DecodeLoopDevice(uint64_t encoded) {
  // The minor's low byte, the major's twelve bits, the rest of the minor
  // above them.
  return makedev((encoded & 0xFFF00) >> 8, (encoded & 0xFF) | ((encoded >> 12) & 0xFFF00));
}

std::vector<LoopStatus> AttachedLoopDevices(const std::string& sysfs) {
  std::vector<LoopStatus> loops;
  for (const SysfsDisk& disk : WholeDisks(sysfs)) {
    LoopStatus loop;
    loop.name = disk.name;
    // Only an attached loop device has its loop folder.
    if (!disk.loop || !ReadDeviceNumber(sysfs + "/block/" + disk.name + "/dev", &loop.device)) {
      continue;
    }
    struct stat file;
    // A card's own loop device was read when it was opened.
    if (const CardMedium* medium = OpenedLoopMedium(loop.device)) {
      loop.fileDevice = medium->loopFileDevice;
      loop.fileInode = medium->loopInode;
      loop.fileRdev = medium->loopFileRdev;
    } else if (!ReadLoopStatus(disk.name, loop.device, &loop)) {
      if (disk.backingFile.empty() || stat(disk.backingFile.c_str(), &file) != 0) continue;
      loop.fileDevice = file.st_dev;
      loop.fileInode = file.st_ino;
      loop.fileRdev = S_ISBLK(file.st_mode) ? file.st_rdev : 0;
    }
    loops.push_back(loop);
  }
  return loops;
}

namespace {

std::string LoopText(const LoopStatus& loop, const std::string& sysfs) {
  std::vector<MountedDevice> mounts = MountsOf(WithPartitions(sysfs, loop.device), sysfs);
  return "/dev/" + loop.name + (mounts.empty() ? "" : " (mounted on " + mounts[0].mountPoint + ")");
}

// The card's devices, and the loop devices among them.
std::vector<dev_t> CardDevices(dev_t card, const std::string& sysfs,
                               std::vector<LoopStatus>* over) {
  std::vector<dev_t> devices = WithPartitions(sysfs, card);
  std::vector<LoopStatus> loops = AttachedLoopDevices(sysfs);
  // A loop device over a loop device over the card is over the card too.
  for (bool more = true; more;) {
    more = false;
    for (const LoopStatus& loop : loops) {
      if (loop.fileRdev == 0 || !Holds(devices, loop.fileRdev) || Holds(devices, loop.device)) {
        continue;
      }
      for (dev_t device : WithPartitions(sysfs, loop.device)) devices.push_back(device);
      if (over != nullptr) over->push_back(loop);
      more = true;
    }
  }
  return devices;
}

}  // namespace

std::vector<std::string> LoopDevicesOver(const struct stat& file, const std::string& sysfs) {
  std::vector<std::string> found;
  for (const LoopStatus& loop : AttachedLoopDevices(sysfs)) {
    if (loop.fileDevice == file.st_dev && loop.fileInode == file.st_ino) {
      found.push_back(LoopText(loop, sysfs));
    }
  }
  return found;
}

std::vector<dev_t> DevicesOfCard(dev_t card, const std::string& sysfs) {
  return CardDevices(card, sysfs, nullptr);
}

std::vector<std::string> LoopDevicesOverCard(dev_t card, const std::string& sysfs) {
  std::vector<LoopStatus> over;
  CardDevices(card, sysfs, &over);
  std::vector<std::string> found;
  for (const LoopStatus& loop : over) found.push_back(LoopText(loop, sysfs));
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
    std::vector<LoopStatus> over;
    std::vector<dev_t> devices = CardDevices(status.st_rdev, sysfs, &over);
    std::vector<MountedDevice> mounts = MountsOf(devices, sysfs);
    std::string holder = HolderOf(devices, sysfs);
    if (!mounts.empty()) {
      found = mounts[0].device + " is mounted on " + mounts[0].mountPoint + "; unmount it first";
    } else if (!over.empty()) {
      found = "/dev/" + over[0].name + " stands over it; detach it first";
    } else if (!holder.empty()) {
      found = holder + " holds it";
    } else {
      found = ProcessOn(devices);
    }
  } else {
    found = LockHolder(medium);
  }
  if (found.empty() && !lockedWith.empty()) found = LockHolder(lockedWith);
  return found.empty() ? "another program holds it" : found;
}

}  // namespace host
