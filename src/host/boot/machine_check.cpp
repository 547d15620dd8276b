#include "host/boot/machine_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "host/card/card_holders.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "sim/ata_card.h"

namespace host {
namespace {

std::string Reason() {
  return std::strerror(errno);
}

// What kind of file the mode is, for a refusal.
const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path as one spelling: its folder with links resolved, and its name.
std::string Spelled(const std::string& path) {
  char resolved[4096];
  std::string folder = FolderOf(path);
  if (realpath(folder.c_str(), resolved) != nullptr) folder = resolved;
  size_t slash = path.find_last_of('/');
  return folder + "/" + (slash == std::string::npos ? path : path.substr(slash + 1));
}

// Whether path lies under /dev, where a card reader's device is and where no
// image is ever created.
bool UnderDev(const std::string& path) {
  std::string absolute = path;
  if (path.empty() || path[0] != '/') {
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr) return false;
    absolute = std::string(folder) + "/" + path;
  }
  // Its folder with links resolved: /dev/../tmp/x is not under /dev,
  // /dev/disk/by-id/x is.
  return Spelled(absolute).compare(0, 5, "/dev/") == 0;
}

bool Blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Checks the medium of one card; *what says what is wrong with it.
bool CheckMedium(const sim::CardSettings& card, bool mayCreate, std::string* what) {
  const uint64_t needed = static_cast<uint64_t>(card.identity.cylinders) * card.identity.heads *
                          card.identity.sectorsPerTrack * kAtaSectorBytes;
  // "/dev/loop2 " is a mistyped device, never a new image beside it.
  if (!card.image.empty() && (Blank(card.image.front()) || Blank(card.image.back()))) {
    *what = "begins or ends with a blank; no card's medium does";
    return false;
  }
  const CardMedium& medium = CardMediumAt(card.image);
  if (!medium.reached) {
    if (!medium.danglingTarget.empty()) {
      *what = "is a link to " + medium.danglingTarget + ", which does not exist";
      return false;
    }
    if (medium.missing && UnderDev(card.image)) {
      *what = "no such device: is the card reader plugged in?";
      return false;
    }
    if (!medium.missing) {
      *what = OpenFailure(medium.openError);
      return false;
    }
    if (!mayCreate) {
      // A mistyped device ("sdc" for "/dev/sdc") or a file that is not
      // there is no card: a new image needs its size said.
      *what =
          "no such file: name a card reader (/dev/sdX) or give --geometry CxHxS to create a "
          "new image";
      return false;
    }
    // A new image is created when the card is first used; its folder must
    // take it then.
    std::string folder = FolderOf(card.image);
    struct stat folderStatus;
    if (stat(folder.c_str(), &folderStatus) != 0) {
      *what = "does not exist and cannot be created: the folder " + folder + ": " + Reason();
      return false;
    }
    if (!S_ISDIR(folderStatus.st_mode)) {
      *what = "does not exist and cannot be created: " + folder + " is not a folder";
      return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
      *what = "does not exist and cannot be created in " + folder + ": " + Reason();
      return false;
    }
    return true;
  }
  const struct stat& status = medium.status;
  if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
    *what = std::string("is ") + Kind(status.st_mode) + ", not an image file or a block device";
    return false;
  }
  if (!S_ISBLK(status.st_mode) && UnderDev(card.image)) {
    // A file left under /dev by an earlier mistake would hide the reader's
    // device when it comes.
    *what = "is a regular file under /dev, not a card reader's block device";
    return false;
  }
  // A file nobody may write is read-only, also for a user whom the system
  // would let write it anyway.
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    *what = "is read-only";
    return false;
  }
  if (medium.fd < 0) {
    *what = OpenFailure(medium.openError);
    return false;
  }
  if (S_ISREG(status.st_mode)) {
    // A file behind a loop device is that device's medium, perhaps mounted:
    // written here, it would change under the kernel's feet.
    std::vector<std::string> loops = LoopDevicesOver(status);
    if (!loops.empty()) {
      *what = "is attached to " + loops[0];
      for (size_t i = 1; i < loops.size(); ++i) *what += " and " + loops[i];
      *what += "; detach it first";
      return false;
    }
  }
  off_t end = S_ISREG(status.st_mode) ? status.st_size : lseek(medium.fd, 0, SEEK_END);
  uint64_t size = end < 0 ? 0 : static_cast<uint64_t>(end);
  if (size < needed) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "holds %llu bytes, fewer than the %u x %u x %u x 512 = %llu bytes of the "
                  "card's geometry",
                  static_cast<unsigned long long>(size), card.identity.cylinders,
                  card.identity.heads, card.identity.sectorsPerTrack,
                  static_cast<unsigned long long>(needed));
    *what = text;
    return false;
  }
  return true;
}

}  // namespace

bool ReadMachineFile(const std::string& path, std::string* text, std::string* error) {
  auto refuse = [&](const std::string& what) {
    *error = path + ": " + what;
    return false;
  };
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return refuse("cannot be read: " + Reason());
  if (!S_ISREG(status.st_mode)) {
    return refuse(std::string("is ") + Kind(status.st_mode) + ", not a machine file");
  }
  if (status.st_size > kMachineFileLimit) {
    return refuse("is larger than a machine file can be (1 MiB)");
  }
  // Opened without waiting and looked at again: what is opened is what was
  // looked at.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return refuse("cannot be read: " + Reason());
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return refuse("is not a regular file, not a machine file");
  }
  text->clear();
  char chunk[65536];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::string reason = Reason();
      close(fd);
      return refuse("cannot be read: " + reason);
    }
    if (got == 0) break;
    text->append(chunk, static_cast<size_t>(got));
    if (text->size() > static_cast<size_t>(kMachineFileLimit)) {
      close(fd);
      return refuse("is larger than a machine file can be (1 MiB)");
    }
  }
  close(fd);
  return true;
}

bool CheckMachineCards(const MachineOptions& settings, const std::string& machineName,
                       std::string* error) {
  cards::DriverRegistry registry;
  std::string problem;
  if (!cards::ReadDriverRegistry(&registry, &problem)) {
    *error = machineName + ": " + problem;
    return false;
  }
  for (const sim::CardSettings& card : registry.cards) {
    std::string what;
    std::string named = SettingsCardName(settings, card.image);
    // The card the user named is created only when its geometry says how
    // large; the default machine's own image as it always was.
    bool mayCreate = named.empty() || settings.geometry.given();
    const CardMedium& medium = CardMediumAt(card.image);
    if (mayCreate && settings.media != MediaUse::kWrite && medium.missing &&
        medium.danglingTarget.empty() && !UnderDev(card.image)) {
      what = "no such card image; a run that writes nothing creates none";
    }
    if (!what.empty() || !CheckMedium(card, mayCreate, &what)) {
      if (!named.empty()) {
        *error = named + ": " + what;
        return false;
      }
      char key[8];
      std::snprintf(key, sizeof key, "%04X", card.ioBase);
      *error = machineName + ": " + cards::CardsKeyShown() + "\\" + key + ": \"Image\" (" +
               card.image + ") " + what;
      return false;
    }
  }
  return true;
}

namespace {

// Whether path is, or would become, the medium of a card: the same file
// (device and inode) as a card's medium or, for a loop device, as the file
// it stands over; or the same spelling as an image not created yet.
bool IsCardMedium(const std::string& path, const std::vector<sim::CardSettings>& cards) {
  struct stat status;
  bool exists = stat(path.c_str(), &status) == 0;
  for (const sim::CardSettings& card : cards) {
    const CardMedium& medium = CardMediumAt(card.image);
    if (!medium.reached) {
      if (Spelled(card.image) == Spelled(path)) return true;
      continue;
    }
    if (exists && medium.status.st_dev == status.st_dev && medium.status.st_ino == status.st_ino) {
      return true;
    }
    if (exists && medium.loopBacked && medium.loopFileDevice == status.st_dev &&
        medium.loopInode == status.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool CheckScreenDump(const Setting& screenDump, std::string* error) {
  if (!screenDump.given()) return true;
  cards::DriverRegistry registry;
  std::string problem;
  cards::ReadDriverRegistry(&registry, &problem);  // CheckMachineCards has read it already
  const std::string& path = screenDump.value;
  // The screen is written to a new file beside it and renamed over it: the
  // file it replaces must be nobody's medium.
  struct stat status;
  std::string what;
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
    what = std::string("is ") + Kind(status.st_mode) + ", not a file for the screen";
  } else if (IsCardMedium(path, registry.cards)) {
    what = "is the medium of a card";
  } else if (stat(path.c_str(), &status) == 0) {
    // Nor the file behind any loop device, a card of this machine or not.
    std::vector<std::string> loops = LoopDevicesOver(status);
    if (!loops.empty()) what = "is the file behind " + loops[0];
  }
  if (!what.empty()) {
    *error = screenDump.Shown() + ": " + what;
    return false;
  }
  return true;
}

}  // namespace host
