#include "sim/medium_posix.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/ata_commands.h"
#include "sim/medium.h"

namespace sim {
namespace {

uint64_t directWrites = 0;
uint64_t durablePoints = 0;

// The one buffer the transfers of O_DIRECT descriptors go through, kept for
// the process: the system's sector buffers lie wherever its code put them,
// and the kernel moves O_DIRECT data only from and to memory aligned to the
// device's logical block size. Transfers are one at a time, so one buffer
// serves every card.
struct BounceBuffer {
  uint8_t* data = nullptr;
  size_t bytes = 0;
  size_t alignment = 0;
  ~BounceBuffer() { std::free(data); }
};
BounceBuffer bounce;

// The bounce buffer, grown to length bytes at the medium's alignment. Null
// when no memory is left.
uint8_t* Bounce(const Medium& medium, uint32_t length) {
  if (bounce.data != nullptr && bounce.bytes >= length && bounce.alignment >= medium.alignment) {
    return bounce.data;
  }
  size_t bytes = std::max<size_t>(bounce.bytes, length);
  void* grown = nullptr;
  if (posix_memalign(&grown, medium.alignment, bytes) != 0) return nullptr;
  std::free(bounce.data);
  bounce.data = static_cast<uint8_t*>(grown);
  bounce.bytes = bytes;
  bounce.alignment = medium.alignment;
  return bounce.data;
}

// Whether a caller's buffer can be moved as it is: in memory at the
// medium's alignment, and whole sectors long (a card's device has 512-byte
// logical sectors; the boot refuses any other).
bool Aligned(const Medium& medium, const void* data, uint32_t length) {
  return reinterpret_cast<uintptr_t>(data) % medium.alignment == 0 && length % kAtaSectorBytes == 0;
}

// The kernel's flush of the device's write cache, where it has one.
bool MakeDurable(int fd) {
  while (fdatasync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  ++durablePoints;
  return true;
}

// ReadAll and WriteAll are the same loop on purpose, one over pread and one
// over pwrite: a transfer may come back short or be interrupted, and is taken
// up again where it stopped.
bool ReadAll(int fd, uint64_t offset, uint8_t* data, uint32_t length) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

// calls, when given, counts the write calls made.
bool WriteAll(int fd, uint64_t offset, const uint8_t* data, uint32_t length, uint64_t* calls) {
  uint32_t done = 0;
  while (done < length) {
    ssize_t n = pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (calls != nullptr) ++*calls;
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

bool IsBlockDevice(const std::string& path) {
  struct stat st = {};
  return stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

}  // namespace

int BlockDeviceCardFlags() {
  return O_RDWR | O_CLOEXEC | O_DIRECT;
}

uint64_t DirectWrites() {
  return directWrites;
}

uint64_t DurablePoints() {
  return durablePoints;
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

Medium DescribeMedium(int fd) {
  Medium medium;
  medium.fd = fd;
  medium.bytes = MediumSize(fd);
  int flags = fcntl(fd, F_GETFL);
  medium.direct = flags >= 0 && (flags & O_DIRECT) != 0;
  if (medium.direct) {
    // The device's logical block size, and at least a page, so that no
    // transfer crosses more pages than it must; both are powers of two, so
    // the larger is a multiple of the smaller.
    int logical = 0;
    if (ioctl(fd, BLKSSZGET, &logical) != 0 || logical <= 0) logical = 512;
    long page = sysconf(_SC_PAGESIZE);
    medium.alignment = static_cast<uint32_t>(std::max<long>(logical, page > 0 ? page : 4096));
  }
  return medium;
}

// An image file is read and written in place. An O_DIRECT descriptor (a
// card's block device) moves its data straight from and to a buffer that is
// aligned as the device needs, else through the aligned bounce buffer; one
// call for the whole run either way.
bool ReadMedium(const Medium& medium, uint64_t offset, uint8_t* data, uint32_t length) {
  if (!medium.direct || Aligned(medium, data, length)) {
    return ReadAll(medium.fd, offset, data, length);
  }
  uint8_t* buffer = Bounce(medium, length);
  if (buffer == nullptr || !ReadAll(medium.fd, offset, buffer, length)) return false;
  std::memcpy(data, buffer, length);
  return true;
}

bool WriteMedium(const Medium& medium, uint64_t offset, const uint8_t* data, uint32_t length) {
  if (!medium.direct) return WriteAll(medium.fd, offset, data, length, nullptr);
  const uint8_t* from = data;
  if (!Aligned(medium, data, length)) {
    uint8_t* buffer = Bounce(medium, length);
    if (buffer == nullptr) return false;
    std::memcpy(buffer, data, length);
    from = buffer;
  }
  // The MBR goes to the card only once the volume it points to is there,
  // and its write completes only once it is there itself.
  const bool carriesMbr = offset == 0 && length > 0;
  if (carriesMbr && !MakeDurable(medium.fd)) return false;
  if (!WriteAll(medium.fd, offset, from, length, &directWrites)) return false;
  return !carriesMbr || MakeDurable(medium.fd);
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
