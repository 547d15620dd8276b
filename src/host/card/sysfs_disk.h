// What the kernel's sysfs says of a block device: whether it is a whole disk
// or a partition of one, whether its medium is removable (a card reader, a
// USB stick), whether it is a loop device and over which file, its maker's
// model text and its size. The boot reads it to tell a card from a fixed
// disk; tests give a folder of the same shape in place of /sys.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host {

constexpr char kSysfsRoot[] = "/sys";

struct SysfsDisk {
  std::string name;       // the kernel's name, as under /dev: "sdc", "sdc1", "loop3"
  std::string wholeDisk;  // for a partition, the disk it is part of; else empty
  bool removable = false;
  bool loop = false;
  std::string backingFile;  // a loop device's file, as the kernel names it
  std::string model;        // vendor and model, blanks between words only
  uint64_t bytes = 0;
  // A disk of a device the machine has (a reader, a controller's disk), not
  // one the kernel makes of memory or of other disks; loop devices aside.
  bool hardware = false;
};

// The entry of the block device numbered device (a stat's st_rdev). False
// when sysfs has none.
bool ReadSysfsDisk(const std::string& sysfs, dev_t device, SysfsDisk* disk);

// The kernel's partitions of the whole disk numbered device, by their
// number ("sdc1" is 1 on sdc): what the kernel made of its table, or none.
std::vector<std::pair<int, std::string>> DiskPartitions(const std::string& sysfs, dev_t device);

// The whole disks of the machine whose medium the kernel marks removable and
// that hold one (a reader without a card has size 0), in name order.
std::vector<SysfsDisk> RemovableDisks(const std::string& sysfs);

// Every whole disk of the machine, in name order.
std::vector<SysfsDisk> WholeDisks(const std::string& sysfs);

// A size for people in the binary units lsblk shows, where a user looks for
// the reader's device: "64 MiB", "3.8 GiB".
std::string DiskSizeText(uint64_t bytes);

// "/dev/sdc (KESTREL CF 64MB, 64 MiB)": a disk as a refusal names it.
std::string DiskText(const SysfsDisk& disk);

}  // namespace host
