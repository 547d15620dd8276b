// What held a card when its volume lock was refused: the system's screen
// says only that another user has the card, and the user needs to know which
// one to stop. Read from the kernel's tables after the fact.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "host/card/sysfs_disk.h"

namespace host {

// What holds medium (a card's block device or image file, and lockedWith,
// the file locked together with it, when not empty): a mounted partition
// and its mount point, another process, or, when nothing can be found, that
// another program holds it. One phrase, for a line on standard error.
// The file systems mounted from the disk (its kernel name, "sdc") or its
// partitions, in the order the kernel lists them.
struct MountedDevice {
  std::string device;  // "/dev/sdc1"
  std::string mountPoint;
};
std::vector<MountedDevice> MountsOn(const std::string& disk, const std::string& sysfs = kSysfsRoot);

std::string DescribeHolder(const std::string& medium, const std::string& lockedWith,
                           const std::string& sysfs = kSysfsRoot);

// The loop devices that stand over the file (the same device and inode as
// the kernel's backing file), each as "/dev/loop3" or "/dev/loop3 (mounted on
// /mnt)", in name order: an image behind one is in use, whatever a lock says.
std::vector<std::string> LoopDevicesOver(const struct stat& file,
                                         const std::string& sysfs = kSysfsRoot);

}  // namespace host
