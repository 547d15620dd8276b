// The cards present on the machine, by the rule the boot applies to a card
// reader's device (host/card/real_card.h): a whole disk the kernel marks
// removable (a reader without a medium too), or a disk that answers IDENTIFY
// DEVICE as a CompactFlash card; loop devices with a file attached only when
// asked for (--all): a machine has many that are nobody's card.
// Every other disk the machine has is a fixed disk, left out and counted.
// Devices are opened for reading only, to ask IDENTIFY DEVICE.
#pragma once

#include <string>
#include <vector>

#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"

namespace tool {

struct CardScan {
  std::vector<std::string> cards;       // device paths, in name order
  std::vector<std::string> fixedDisks;  // device paths left out
};

// devices: the folder of the device nodes ("/dev"); tests give sysfs and
// devices folders of their own, and a stand-in for the SG_IO call.
CardScan ScanCards(bool loopDevices, const std::string& sysfs = host::kSysfsRoot,
                   const std::string& devices = "/dev",
                   host::SgIoRequest request = host::KernelSgIo);

}  // namespace tool
