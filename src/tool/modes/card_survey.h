// One card as --list shows it: what the kernel and the card's own IDENTIFY
// answer say of it, and what the system reads of it (both geometries and
// the partition list as its main screen lists them), on the default machine
// booted with that card alone. The medium is opened for reading only,
// without O_EXCL, and no lock is taken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/card_report.h"
#include "host/boot/machine_options.h"
#include "host/card/card_holders.h"
#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"

namespace tool {

struct SurveyedCard {
  std::string path;
  bool blockDevice = false;
  bool empty = false;      // a reader without a medium
  bool fixedDisk = false;  // not a card: left out of the listing
  uint64_t bytes = 0;
  bool kernelRemovable = false;
  std::string loopBackingFile;
  bool answered = false;  // it answered IDENTIFY DEVICE itself
  sim::CardIdentity identity;
  std::vector<host::MountedDevice> mounts;
  // What the system read, or why it could not.
  bool read = false;
  CardReport report = {};
  std::string refusal;
};

// "removable", "fixed" or "" (unknown): the card's word 0 where it answered,
// the card model's for an image (a CompactFlash card).
std::string CallsItself(const SurveyedCard& card);
// Where the model and serial number come from: "identify", "sysfs" or
// "card model".
std::string IdentitySource(const SurveyedCard& card);

// Must be called before any medium is opened: list runs open nothing for
// writing from then on.
void BeginSurvey();

// settings: the command line's, whose geometry stands for cards that do
// not answer IDENTIFY DEVICE, and whose fixed-disk setting lets a fixed disk
// be listed.
SurveyedCard SurveyCardAt(const host::MachineOptions& settings, const std::string& path,
                          host::SgIoRequest request = host::KernelSgIo,
                          const std::string& sysfs = host::kSysfsRoot);

}  // namespace tool
