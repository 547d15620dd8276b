#include "support/loop_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <vector>

#include "support/support.h"

namespace testsupport {

LoopDevice::LoopDevice(const std::string& image, bool partitions, bool readOnly, int sectorSize) {
  std::string output;
  std::string size = sectorSize > 0 ? "--sector-size " + std::to_string(sectorSize) + " " : "";
  int status = RunCommand(std::string("losetup -f --show ") + (partitions ? "-P " : "") +
                              (readOnly ? "-r " : "") + size + "'" + image + "'",
                          &output);
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  if (status == 0 && output.compare(0, 9, "/dev/loop") == 0 &&
      output.find('\n') == std::string::npos) {
    path_ = output;
  } else {
    reason_ =
        "losetup could not attach a loop device (status " + std::to_string(status) + "): " + output;
    const char* required = std::getenv("DUNMORE_REQUIRE_DEVICES");
    if (required != nullptr && std::string(required) == "1") {
      ADD_FAILURE() << reason_ << "; DUNMORE_REQUIRE_DEVICES=1: this run requires loop devices";
    }
  }
}

LoopDevice::~LoopDevice() {
  if (path_.empty()) return;
  std::string output;
  RunCommand("losetup -d '" + path_ + "'", &output);
}

std::string LoopDevice::Name() const {
  return path_.substr(path_.rfind('/') + 1);
}

namespace {

BlockCounts ReadCounts(const std::string& name) {
  // Fields 1 and 5: reads and writes completed; field 16: flushes completed
  // (fields 12 to 15 count discards).
  std::istringstream fields(ReadFile("/sys/block/" + name + "/stat"));
  std::vector<uint64_t> values;
  uint64_t value = 0;
  while (fields >> value) values.push_back(value);
  BlockCounts counts;
  if (values.size() >= 5) {
    counts.reads = values[0];
    counts.writes = values[4];
  }
  if (values.size() >= 16) {
    counts.flushes = values[15];
    counts.flushesCounted = true;
  }
  return counts;
}

}  // namespace

// The kernel counts a request when it ends it, a moment after the task that
// waited for it has been woken: a count read at once may still lack the last
// request. The counts are read until two looks 10 ms apart agree.
BlockCounts LoopDevice::Counts() const {
  BlockCounts counts = ReadCounts(Name());
  for (int look = 0; look < 100; ++look) {
    usleep(10 * 1000);
    const BlockCounts again = ReadCounts(Name());
    if (again.reads == counts.reads && again.writes == counts.writes &&
        again.flushes == counts.flushes) {
      break;
    }
    counts = again;
  }
  return counts;
}

ExclusiveHolder::ExclusiveHolder(const std::string& path) {
  int ready[2];
  if (pipe(ready) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    close(ready[0]);
    int fd = open(path.c_str(), O_RDONLY | O_EXCL);
    char answer = fd >= 0 ? 'y' : 'n';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 'n';
  holding_ = pid_ > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
  close(ready[0]);
}

ExclusiveHolder::~ExclusiveHolder() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

}  // namespace testsupport
