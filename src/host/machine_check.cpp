#include "host/machine_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "sim/ata_card.h"

namespace host {
namespace {

constexpr uint64_t kSectorSize = kAtaSectorBytes;

std::string Reason() {
  return std::strerror(errno);
}

// What kind of file the mode is, for a refusal.
const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Checks the medium of one card; *what says what is wrong with it.
bool CheckMedium(const sim::CardSettings& card, std::string* what) {
  const uint64_t needed = static_cast<uint64_t>(card.identity.cylinders) * card.identity.heads *
                          card.identity.sectorsPerTrack * kSectorSize;
  struct stat status;
  if (stat(card.image.c_str(), &status) != 0) {
    if (errno != ENOENT) {
      *what = "cannot be reached: " + Reason();
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
  if (!S_ISREG(status.st_mode) && !S_ISBLK(status.st_mode)) {
    *what = std::string("is ") + Kind(status.st_mode) + ", not an image file or a block device";
    return false;
  }
  // A file nobody may write is read-only, also for a user whom the system
  // would let write it anyway.
  if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    *what = "is read-only";
    return false;
  }
  int fd = open(card.image.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *what = "cannot be opened for reading and writing: " + Reason();
    return false;
  }
  off_t end = S_ISREG(status.st_mode) ? status.st_size : lseek(fd, 0, SEEK_END);
  close(fd);
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

bool CheckMachineCards(const std::string& machineName, std::string* error) {
  cards::DriverRegistry registry;
  std::string problem;
  if (!cards::ReadDriverRegistry(&registry, &problem)) {
    *error = machineName + ": " + problem;
    return false;
  }
  for (const sim::CardSettings& card : registry.cards) {
    std::string what;
    if (!CheckMedium(card, &what)) {
      char key[8];
      std::snprintf(key, sizeof key, "%04X", card.ioBase);
      *error = machineName + ": " + cards::CardsKeyShown() + "\\" + key + ": \"Image\" (" +
               card.image + ") " + what;
      return false;
    }
  }
  return true;
}

}  // namespace host
