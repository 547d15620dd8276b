#include "tool/modes/card_scan.h"

#include <fcntl.h>
#include <unistd.h>

namespace tool {
namespace {

using host::SgIoRequest;

// Whether the disk's device answers IDENTIFY DEVICE as a CompactFlash card.
bool AnswersAsCompactFlash(const std::string& path, SgIoRequest request) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  sim::CardIdentity identity;
  std::string why;
  bool card = host::AskCardIdentity(fd, &identity, &why, request) && identity.compactFlash;
  close(fd);
  return card;
}

}  // namespace

CardScan ScanCards(bool loopDevices, const std::string& sysfs, const std::string& devices,
                   SgIoRequest request) {
  CardScan scan;
  for (const host::SysfsDisk& disk : host::WholeDisks(sysfs)) {
    const std::string path = devices + "/" + disk.name;
    if (disk.loop) {
      // A loop device without a file holds nothing.
      if (loopDevices && !disk.backingFile.empty()) scan.cards.push_back(path);
    } else if (!disk.hardware) {
      // Disks the kernel makes of memory or of other disks (ram, zram,
      // device mapper, md) are no readers.
      continue;
    } else if (disk.removable || AnswersAsCompactFlash(path, request)) {
      scan.cards.push_back(path);
    } else {
      scan.fixedDisks.push_back(path);
    }
  }
  return scan;
}

}  // namespace tool
