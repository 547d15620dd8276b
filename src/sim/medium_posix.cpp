#include "sim/medium_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/medium.h"

namespace sim {
namespace {

uint64_t synchronousWrites = 0;

bool IsBlockDevice(const std::string& path) {
  struct stat st = {};
  return stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

int BlockDeviceCardFlags() {
  return O_RDWR | O_CLOEXEC | O_DSYNC;
}

uint64_t SynchronousWrites() {
  return synchronousWrites;
}

int OpenMedium(const std::string& path, uint64_t newSize, std::string* error) {
  int flags = IsBlockDevice(path) ? BlockDeviceCardFlags() : O_RDWR | O_CLOEXEC;
  int fd = open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 && ftruncate(fd, static_cast<off_t>(newSize)) != 0) {
      *error = path + ": cannot size the new image: " + std::strerror(errno);
      close(fd);
      unlink(path.c_str());
      return -1;
    }
  }
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return -1;
  }
  return fd;
}

void CloseMedium(int fd) {
  if (fd >= 0) close(fd);
}

uint64_t MediumSize(int fd) {
  // lseek to the end works for regular files and block devices alike.
  off_t end = lseek(fd, 0, SEEK_END);
  return end < 0 ? 0 : static_cast<uint64_t>(end);
}

// ReadMedium and WriteMedium are the same loop on purpose, one over pread and
// one over pwrite: a transfer may come back short or be interrupted, and is
// taken up again where it stopped.
bool ReadMedium(int fd, uint64_t offset, uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool WriteMedium(int fd, uint64_t offset, const uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_DSYNC) == O_DSYNC) ++synchronousWrites;
  return true;
}

int TryLockExclusive(const std::string& path) {
  // On a block device the lock is an exclusive open, which the kernel also
  // refuses while a partition of the device is mounted or another program
  // holds the device the same way; an advisory lock would stop no one.
  if (IsBlockDevice(path)) return open(path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    close(fd);
    return -1;
  }
  return fd;
}

void ReleaseLock(int fd) {
  if (fd >= 0) close(fd);
}

bool LockOpenedMedium(int fd) {
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0 || S_ISBLK(status.st_mode)) return false;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

void UnlockOpenedMedium(int fd) {
  if (fd >= 0) flock(fd, LOCK_UN);
}

}  // namespace sim
