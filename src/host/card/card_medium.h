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

// Where an identity text of a card came from.
enum class TextSource {
  kNone,
  kIdentify,  // the card's own answer to IDENTIFY DEVICE
  kCardKey,   // a machine file's card key
  kKernel,    // the kernel's vendor and model text of the device
  kFileName,  // the image's file name
  kPath,      // the path, standing in for a model text the card gives none of
};

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

  // Where the card's geometry came from (ResolveGeometry), and whether the
  // geometry setting was set aside for the card's own answer.
  GeometrySource geometrySource = GeometrySource::kNone;
  bool geometryOptionSetAside = false;
  // Where the card's model text and serial number came from.
  TextSource modelSource = TextSource::kNone;
  TextSource serialSource = TextSource::kNone;

  bool IsBlockDevice() const { return fd >= 0 && S_ISBLK(status.st_mode); }
  bool IsRegularFile() const { return fd >= 0 && S_ISREG(status.st_mode); }
};

// The medium of the card whose key names path: opened on the first request
// of the machine's run and the same one afterwards. Only a regular file or a
// block device is opened for writing; anything else is looked at, never
// opened (a character device may act on an open).
const CardMedium& CardMediumAt(const std::string& path);

// Notes where the card's geometry and identity texts came from.
void NoteGeometrySource(const std::string& path, GeometrySource source, bool optionSetAside);
void NoteTextSources(const std::string& path, TextSource model, TextSource serial);

// "cannot open: Permission denied (run as root)": why a medium did not open
// (errno), with a hint where one helps.
std::string OpenFailure(int error);

// The card's medium that is the loop device numbered device, when one is
// open: what it stands over was read at its open. Null otherwise.
const CardMedium* OpenedLoopMedium(dev_t device);

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
