#include "fault/fault_card.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "app/run_utility.h"
#include "common/ata_commands.h"
#include "console/console_screen.h"
#include "device/disk_channel.h"
#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "disk/card_disk.h"
#include "host/host.h"
#include "host/testing.h"
#include "support/image.h"
#include "support/support.h"

namespace faulttest {

namespace {

// One MBR entry from logical (c, 0, 1) to (c + 1, h - 1, s), as a partition
// tool writes it.
std::vector<uint8_t> Entry(uint8_t type, int c, int h, int s) {
  return testsupport::MbrEntry(type, {c, 0, 1}, {c + 1, h - 1, s}, static_cast<uint32_t>(c) * h * s,
                               2u * h * s);
}

}  // namespace

std::vector<uint8_t> PatternSector(uint32_t lba) {
  std::vector<uint8_t> sector(512);
  for (uint32_t i = 0; i < 512; ++i)
    sector[i] = static_cast<uint8_t>(0x80 | ((lba * 31 + i) & 0x7F));
  return sector;
}

void OldCard::Create() {
  testsupport::CreateImage(image, machineCard);
  int32_t c = 0;
  int32_t h = 0;
  int32_t s = 0;
  CardDisk::TranslateGeometry(machineCard.cylinders, machineCard.heads, machineCard.sectors, &c, &h,
                              &s);
  // The old volume starts on the first logical cylinder above the pattern.
  int oldCylinder = static_cast<int>(patternEnd / (h * s)) + 1;

  region.clear();
  for (uint32_t lba = 0; lba < patternEnd; ++lba) {
    std::vector<uint8_t> sector = PatternSector(lba);
    region.insert(region.end(), sector.begin(), sector.end());
  }
  mbr = PatternSector(0);  // boot code of some other tool
  std::fill(mbr.begin() + 446, mbr.end(), 0);
  testsupport::PutMbr(&mbr, {Entry(0x06, oldCylinder, h, s), Entry(0x05, oldCylinder + 2, h, s)});
  std::copy(mbr.begin(), mbr.end(), region.begin());
  testsupport::WriteSectorBytes(image, 0, region);

  std::vector<uint8_t> boot(512, 0);
  const std::string label = "OLD VOLUME FAT16   ";
  std::copy(label.begin(), label.end(), boot.begin() + 43);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  testsupport::WriteSectorBytes(image, static_cast<uint64_t>(oldCylinder) * h * s, boot);
  fingerprint = testsupport::ImageFingerprint(image);
}

std::vector<uint32_t> OldCard::ChangedSectors() const {
  std::vector<uint8_t> now = testsupport::ReadSectors(image, 0, patternEnd);
  std::vector<uint32_t> changed;
  for (uint32_t lba = 0; lba < patternEnd; ++lba) {
    if (!std::equal(now.begin() + lba * 512, now.begin() + (lba + 1) * 512,
                    region.begin() + lba * 512)) {
      changed.push_back(lba);
    }
  }
  return changed;
}

bool OldCard::Restore() const {
  // With the region written back, whatever still differs lies beyond it.
  testsupport::WriteSectorBytes(image, 0, region);
  return testsupport::ImageFingerprint(image) == fingerprint;
}

std::vector<Write> ReferenceWrites(const testsupport::MachineCard& machineCard,
                                   const std::string& image) {
  testsupport::MachineCard copy = machineCard;
  copy.image = image;
  std::string error;
  if (!host::LoadMachineText(testsupport::MachineText(copy), "reference", &error)) {
    throw std::runtime_error(error);
  }
  host::StartHeadlessConsole();
  theConsole = ConsoleScreen();
  theDriveLetterMap.Reset();
  LargeDiskFlag = 0;
  theCardDisk = nullptr;

  std::vector<Write> writes;
  if (StartUp() == 0 && RepartitionAction() == 0 && theCardDisk->WritePartitionTable() == 0) {
    const sim::AtaCard* card = host::FindOpenCard(theChosenRecord->ioBase & 0xFFFF);
    for (const sim::Transfer& t : card->transfers) {
      if (t.command == kAtaWriteSectors) writes.push_back(Write{t.firstSector, t.count});
    }
  }
  CloseCard();
  return writes;
}

std::string DescribeSectors(const std::vector<uint32_t>& sectors) {
  std::string text;
  for (size_t i = 0; i < sectors.size();) {
    size_t j = i;
    while (j + 1 < sectors.size() && sectors[j + 1] == sectors[j] + 1) ++j;
    if (!text.empty()) text += ",";
    text += std::to_string(sectors[i]);
    if (j > i) text += "-" + std::to_string(sectors[j]);
    i = j + 1;
  }
  return text.empty() ? "none" : text;
}

}  // namespace faulttest
