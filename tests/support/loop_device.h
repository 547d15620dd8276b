// A loop device over an image, standing in for a card reader's block device.
// Needs root; where losetup refuses, usable() is false and reason() says why,
// for the test to report itself as skipped (LOOP_DEVICE_OR_SKIP below).
// Where the run requires devices (DUNMORE_REQUIRE_DEVICES=1, as
// tests/run-all sets it), a refusal fails the test instead: the skip that
// follows cannot hide it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testsupport {

// What the kernel has counted for a block device (/sys/block/NAME/stat):
// requests completed, a run merged into one request counting once. A loop
// device's counts are not reset when it is attached again: tests compare
// counts taken before and after.
struct BlockCounts {
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t flushes = 0;
  bool flushesCounted = false;  // kernels before 5.5 have no flush field
};

class LoopDevice {
 public:
  // partitions: the kernel reads partition tables on it (losetup -P);
  // readOnly: the device refuses writes, as a write-protected card does.
  // sectorSize: the logical block size asked of losetup, 0 for its default.
  explicit LoopDevice(const std::string& image, bool partitions = false, bool readOnly = false,
                      int sectorSize = 0);
  ~LoopDevice();  // detaches the device losetup gave, and only that one
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  bool usable() const { return !path_.empty(); }
  const std::string& reason() const { return reason_; }
  const std::string& path() const { return path_; }
  // The device's name in /sys/block, such as "loop3".
  std::string Name() const;
  BlockCounts Counts() const;

 private:
  std::string path_;
  std::string reason_;
};

// A child process that holds path open exclusively (O_EXCL) until it is
// killed; the destructor kills it by its pid and waits for it.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::string& path);
  ~ExclusiveHolder();
  ExclusiveHolder(const ExclusiveHolder&) = delete;
  ExclusiveHolder& operator=(const ExclusiveHolder&) = delete;
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  bool holding_ = false;
};

}  // namespace testsupport

// Declares LoopDevice NAME over the arguments and ends the test as skipped
// where none could be attached (failed first where devices are required).
#define LOOP_DEVICE_OR_SKIP(name, ...)         \
  ::testsupport::LoopDevice name(__VA_ARGS__); \
  if (!name.usable()) GTEST_SKIP() << name.reason()
