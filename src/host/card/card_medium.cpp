#include "host/card/card_medium.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "host/card/card_holders.h"
#include "host/card/sysfs_disk.h"
#include "sim/medium_posix.h"

namespace host {
namespace {

std::map<std::string, std::unique_ptr<CardMedium>>& Media() {
  static auto* media = new std::map<std::string, std::unique_ptr<CardMedium>>;
  return *media;
}

MediaUse& Use() {
  static MediaUse use = MediaUse::kWrite;
  return use;
}

// Opens the file that pathFd resolved, again through the process's own link
// to it: the same inode, whatever the name points at by now.
int Reopen(int pathFd, int flags) {
  std::string self = "/proc/self/fd/" + std::to_string(pathFd);
  return open(self.c_str(), flags);
}

void Open(CardMedium* medium) {
  // The name is resolved once, into a descriptor that only designates the
  // file: looking at it does not open a device, and nothing that happens to
  // the name afterwards reaches it.
  int pathFd = open(medium->path.c_str(), O_PATH | O_CLOEXEC);
  if (pathFd < 0) {
    medium->missing = errno == ENOENT;
    medium->openError = errno;
    char target[4096];
    ssize_t length = medium->missing ? readlink(medium->path.c_str(), target, sizeof target) : -1;
    if (length > 0) medium->danglingTarget.assign(target, static_cast<size_t>(length));
    return;
  }
  struct stat status;
  if (fstat(pathFd, &status) != 0) {
    medium->openError = errno;
    close(pathFd);
    return;
  }
  medium->status = status;
  medium->reached = true;
  struct stat named;
  char target[4096];
  std::string self = "/proc/self/fd/" + std::to_string(pathFd);
  ssize_t length = readlink(self.c_str(), target, sizeof target - 1);
  if (lstat(medium->path.c_str(), &named) == 0 && S_ISLNK(named.st_mode) && length > 0) {
    medium->shownName.assign(target, static_cast<size_t>(length));
  }
  int fd = -1;
  const int readOnly = O_RDONLY | O_CLOEXEC | O_NOCTTY;
  if (Use() == MediaUse::kLook && (S_ISBLK(status.st_mode) || S_ISREG(status.st_mode))) {
    fd = Reopen(pathFd, readOnly);
  } else if (S_ISBLK(status.st_mode)) {
    const int flags = Use() == MediaUse::kWrite ? sim::BlockDeviceCardFlags() : readOnly;
    fd = Reopen(pathFd, flags | O_EXCL);
    medium->exclusive = fd >= 0;
    // Held by a mount or another program: opened all the same, and the
    // card's volume lock is refused, as the screen then says.
    if (fd < 0 && errno == EBUSY) fd = Reopen(pathFd, flags);
  } else if (S_ISREG(status.st_mode)) {
    fd = Reopen(pathFd, Use() == MediaUse::kWrite ? O_RDWR | O_CLOEXEC | O_NOCTTY : readOnly);
  } else {
    // Neither an image nor a card reader: named as what it is, not opened.
    medium->openError = EINVAL;
    close(pathFd);
    return;
  }
  if (fd < 0) medium->openError = errno;
  close(pathFd);
  if (fd < 0) return;
  medium->fd = fd;
  fstat(fd, &medium->status);
  if (S_ISBLK(status.st_mode) && major(status.st_rdev) == LOOP_MAJOR) {
    medium->loopDevice = true;
    loop_info64 info = {};
    // A loop device with nothing attached answers ENXIO.
    if (ioctl(fd, LOOP_GET_STATUS64, &info) == 0) {
      medium->loopBacked = true;
      medium->loopScansPartitions = (info.lo_flags & LO_FLAGS_PARTSCAN) != 0;
      medium->loopFileDevice = DecodeLoopDevice(info.lo_device);
      medium->loopFileRdev = DecodeLoopDevice(info.lo_rdevice);
      medium->loopInode = static_cast<ino_t>(info.lo_inode);
    }
  }
  SysfsDisk disk;
  if (S_ISBLK(status.st_mode) && ReadSysfsDisk(kSysfsRoot, status.st_rdev, &disk) && disk.loop) {
    // The kernel marks a file deleted since it was attached; none stands
    // there to lock.
    struct stat file;
    if (!disk.backingFile.empty() && stat(disk.backingFile.c_str(), &file) == 0) {
      medium->loopBackingFile = disk.backingFile;
    }
  }
}

}  // namespace

const CardMedium& CardMediumAt(const std::string& path) {
  std::unique_ptr<CardMedium>& medium = Media()[path];
  if (medium == nullptr) {
    medium = std::make_unique<CardMedium>();
    medium->path = path;
    medium->shownName = path;
    Open(medium.get());
  }
  return *medium;
}

const CardMedium* OpenedLoopMedium(dev_t device) {
  for (const auto& entry : Media()) {
    const CardMedium& medium = *entry.second;
    if (medium.loopBacked && medium.IsBlockDevice() && medium.status.st_rdev == device) {
      return &medium;
    }
  }
  return nullptr;
}

void NoteGeometrySource(const std::string& path, GeometrySource source, bool optionSetAside) {
  auto found = Media().find(path);
  if (found == Media().end()) return;
  found->second->geometrySource = source;
  found->second->geometryOptionSetAside = optionSetAside;
}

void NoteTextSources(const std::string& path, TextSource model, TextSource serial) {
  auto found = Media().find(path);
  if (found == Media().end()) return;
  found->second->modelSource = model;
  found->second->serialSource = serial;
}

std::string OpenFailure(int error) {
  std::string text = std::string("cannot open: ") + std::strerror(error);
  if ((error == EACCES || error == EPERM) && geteuid() != 0) return text + " (run as root)";
  if (error == ENOMEDIUM) return text + " (no card in the reader)";
  if (error == ENXIO || error == ENODEV) return text + " (is the card reader still plugged in?)";
  return text;
}

int OpenedCardMedium(const std::string& path, uint64_t newSize, std::string* error) {
  auto found = Media().find(path);
  if (found == Media().end()) {
    *error = path + ": not opened when the machine started";
    return -1;
  }
  CardMedium& medium = *found->second;
  if (medium.fd >= 0) return medium.fd;
  if (!medium.missing || Use() != MediaUse::kWrite) {
    *error = path + ": " + std::strerror(medium.openError);
    return -1;
  }
  // A new image only: whatever took the name since the boot, a file or a
  // link to a device, is left alone.
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  if (ftruncate(fd, static_cast<off_t>(newSize)) != 0) {
    *error = path + ": cannot size the new image: " + std::strerror(errno);
    close(fd);
    unlink(path.c_str());
    return -1;
  }
  medium.fd = fd;
  medium.missing = false;
  medium.reached = true;
  fstat(fd, &medium.status);
  return fd;
}

void UseCardMedia(MediaUse use) {
  Use() = use;
}

MediaUse CardMediaUse() {
  return Use();
}

void ForgetCardMedia() {
  for (auto& entry : Media()) {
    if (entry.second->fd >= 0) close(entry.second->fd);
  }
  Media().clear();
}

}  // namespace host
