#include "host/card/block_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

bool ReadBlockDeviceSize(int fd, uint32_t* sectorBytes, uint64_t* bytes, std::string* why) {
  int logical = 0;
  if (ioctl(fd, BLKSSZGET, &logical) != 0) {
    *why = std::string("BLKSSZGET: ") + std::strerror(errno);
    return false;
  }
  uint64_t size = 0;
  if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
    *why = std::string("BLKGETSIZE64: ") + std::strerror(errno);
    return false;
  }
  *sectorBytes = static_cast<uint32_t>(logical);
  *bytes = size;
  return true;
}

bool RereadPartitionTable(int fd, std::string* why) {
  bool done = ioctl(fd, BLKRRPART) == 0;
  if (!done) *why = std::string("BLKRRPART: ") + std::strerror(errno);
  return done;
}

}  // namespace host
