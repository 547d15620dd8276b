// The few operating-system calls the device models make: the medium (an image
// file or a block device) read and written at byte offsets, and the advisory
// whole-file lock that stands for the physical volume lock. Everything here
// lives in one source file so that a build for another system swaps only it.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Opens the medium for reading and writing. A path that does not exist yet is
// created as a sparse file of newSize bytes; an existing one is used as it is.
// Returns a descriptor, or -1 with *error set.
int OpenMedium(const std::string& path, uint64_t newSize, std::string* error);
void CloseMedium(int fd);

// The medium's size in bytes (a block device's too), or 0 when unknown.
uint64_t MediumSize(int fd);

// What a medium is, learnt once on its descriptor when it is opened, so
// that its transfers ask the system nothing more: its size and how its data
// must be moved (a descriptor opened straight to the device takes buffers
// aligned to its block size).
struct Medium {
  int fd = -1;
  uint64_t bytes = 0;
  bool direct = false;
  uint32_t alignment = 1;
};
Medium DescribeMedium(int fd);

// Moves exactly length bytes; false on any error or short transfer.
bool ReadMedium(const Medium& medium, uint64_t offset, uint8_t* data, uint32_t length);
bool WriteMedium(const Medium& medium, uint64_t offset, const uint8_t* data, uint32_t length);

// Opens a descriptor of its own on path and takes an exclusive lock on it
// without waiting. Returns the descriptor, or -1 when the file cannot be
// opened or another holder has the lock. Closing the descriptor releases it.
int TryLockExclusive(const std::string& path);
void ReleaseLock(int fd);

// The same lock taken, and given back, on a descriptor opened before (the
// host's, which it opened once for the card): false when another holder
// has the medium, or when the medium is a device whose only lock is an
// exclusive open, which whoever opened it either has or has not.
bool LockOpenedMedium(int fd);
void UnlockOpenedMedium(int fd);

}  // namespace sim
