// One card as --list shows it: what the kernel and the card's own IDENTIFY
// answer say of it, and what the system reads of it (both geometries and
// the partition list as its main screen lists them, each with the table
// entry behind it), on the default machine booted with that card alone. The
// medium is opened for reading only, without O_EXCL, and no lock is taken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/card_report.h"
#include "host/boot/machine_options.h"
#include "host/card/card_holders.h"
#include "host/card/card_medium.h"
#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"

namespace tool {

// The master boot record's entry behind a partition of the listing.
struct SurveyedPartition {
  int number = 0;  // its place in the table from 1, the kernel's number; 0: not found
  uint32_t start = 0;
  uint32_t size = 0;
  bool bootable = false;
  std::string node;  // "/dev/sdc1", where the kernel has the partition
};

struct SurveyedCard {
  std::string path;
  bool opened = false;  // false: openError says why, or missing
  int openError = 0;
  bool missing = false;
  bool blockDevice = false;
  bool empty = false;      // a reader without a medium
  bool fixedDisk = false;  // not a card: left out of the listing
  bool readOnly = false;   // the kernel refuses writes to it
  uint64_t bytes = 0;
  bool kernelRemovable = false;
  std::string loopBackingFile;
  bool answered = false;  // it answered IDENTIFY DEVICE itself
  sim::CardIdentity identity;
  std::vector<host::MountedDevice> mounts;
  host::GeometrySource geometrySource = host::GeometrySource::kNone;
  bool geometryOptionSetAside = false;
  host::TextSource modelSource = host::TextSource::kNone;
  host::TextSource serialSource = host::TextSource::kNone;
  // What the system read, or why it could not.
  bool read = false;
  CardReport report = {};
  std::vector<SurveyedPartition> entries;  // one for each of report.partitions
  std::string refusal;
};

// "removable", "fixed" or "" (unknown): the card's word 0 where it answered,
// the card model's for an image (a CompactFlash card).
std::string CallsItself(const SurveyedCard& card);
// The card's model text and serial number as the listing names them: the
// system's reading, or what the card and the kernel said; a card that gives
// no model text is named by its path.
std::string CardModel(const SurveyedCard& card, host::TextSource* source);
std::string CardSerial(const SurveyedCard& card, host::TextSource* source);
// Whether the listing offers the card to be written: opened, holding a
// medium, and not read-only.
bool Writable(const SurveyedCard& card);
// Why the card could not be opened: "cannot open: Permission denied (run as
// root)", or empty.
std::string OpenFailureOf(const SurveyedCard& card);

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
