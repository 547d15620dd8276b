// A card's medium, opened once. The native program resolves the path a card
// key names one time, opens it there, and makes every later check on that
// descriptor: what kind of file it is, what sysfs says of its device number,
// its size, its IDENTIFY answer. The card model reads, writes and takes its
// volume lock through the same descriptor, and the partition table is read
// again on it at the end, so a path changed after the open changes nothing:
// the device checked is the device written.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "host/boot/machine_options.h"

namespace host {

struct CardMedium {
  std::string path;  // as the card key names it; messages name it so
  // How outputs name the card for the user to act on it again: the path,
  // or, when it was a link, the file the link led to at the open.
  std::string shownName;
  int fd = -1;           // -1: nothing could be opened (openError says why)
  bool reached = false;  // the path named a file: status is what it named
  struct stat status = {};
  // A block device that this process alone holds open: the kernel refuses
  // the exclusive open while a partition of it is mounted or another
  // program holds it so, and then the card's volume lock is refused.
  bool exclusive = false;
  // The path named nothing at boot: a new image is made at the card's first
  // use, as a new file only, never through a name that appeared meanwhile.
  bool missing = false;
  int openError = 0;  // errno of the open, when fd is -1 and not missing
  // When missing because the path is a link to nothing: where it points.
  std::string danglingTarget;
  // For a loop device: the file it stands over, locked together with it,
  // and what the device itself says of it.
  std::string loopBackingFile;
  bool loopDevice = false;           // a loop device, attached or not
  bool loopBacked = false;           // it has a file attached
  bool loopScansPartitions = false;  // the kernel reads its partition table
  dev_t loopFileDevice = 0;          // the attached file's device and inode
  ino_t loopInode = 0;
  dev_t loopFileRdev = 0;  // and, for a file that is a block device, its number

  // The card's geometry is made up from the medium's size (an image that
  // says none of its own).
  bool geometryDerived = false;

  bool IsBlockDevice() const { return fd >= 0 && S_ISBLK(status.st_mode); }
  bool IsRegularFile() const { return fd >= 0 && S_ISREG(status.st_mode); }
};

// The medium of the card whose key names path: opened on the first request
// of the machine's run and the same one afterwards. Only a regular file or a
// block device is opened for writing; anything else is looked at, never
// opened (a character device may act on an open).
const CardMedium& CardMediumAt(const std::string& path);

// The card's medium that is the loop device numbered device, when one is
// open: what it stands over was read at its open. Null otherwise.
const CardMedium* OpenedLoopMedium(dev_t device);

// Marks the medium at path as one whose card's geometry was made up from
// its size.
void NoteGeometryDerived(const std::string& path);

// The card model's way to its medium (sim::CardSettings::openMedium): the
// descriptor opened above, or a new image created for a path that named
// nothing at boot, sparse at newSize bytes and kept for the rest of the run.
int OpenedCardMedium(const std::string& path, uint64_t newSize, std::string* error);

// How media are opened from now on (see MediaUse), and how they are.
void UseCardMedia(MediaUse use);
MediaUse CardMediaUse();

// Closes every medium: a newly loaded machine has cards of its own.
void ForgetCardMedia();

}  // namespace host
