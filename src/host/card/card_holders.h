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

// A loop device of the machine with a file attached, and what its driver
// says of that file (LOOP_GET_STATUS64): its device and inode and, for a
// block device, the device it is. Names play no part: a file attached under
// a name that has changed since, or holds a line end, is found all the same.
struct LoopStatus {
  std::string name;      // the kernel's, "loop3"
  dev_t device = 0;      // the loop device's own number
  dev_t fileDevice = 0;  // its file's st_dev and st_ino
  ino_t fileInode = 0;
  dev_t fileRdev = 0;  // its file's st_rdev: the device it stands over
};

// Every loop device with a file attached, in name order. One that this
// process may not open is known by its sysfs backing file, as far as that
// name still leads to the file.
std::vector<LoopStatus> AttachedLoopDevices(const std::string& sysfs = kSysfsRoot);

// The kernel's encoding of a device number in a loop device's status.
dev_t DecodeLoopDevice(uint64_t encoded);

// The loop devices that stand over the file (its st_dev and st_ino), each
// as "/dev/loop3" or "/dev/loop3 (mounted on /mnt)", in name order: an
// image behind one is in use, whatever a lock says.
std::vector<std::string> LoopDevicesOver(const struct stat& file,
                                         const std::string& sysfs = kSysfsRoot);

// The block devices that stand for the card whose device number is card:
// the card, its partitions, and each loop device over any of these (and so
// on), with their partitions; the card first.
std::vector<dev_t> DevicesOfCard(dev_t card, const std::string& sysfs = kSysfsRoot);

// The loop devices over the card (see DevicesOfCard), which the card's
// exclusive open does not see, as LoopDevicesOver names them. Empty when
// there are none.
std::vector<std::string> LoopDevicesOverCard(dev_t card, const std::string& sysfs = kSysfsRoot);

}  // namespace host
