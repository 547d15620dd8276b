// dunmore --make-bootable: the finishing step alone, on a card that already
// holds one FAT16 or FAT32 partition, made by this program or by other
// tools. No Windows 9x machine is booted: the card is opened once, as the
// machine opens a card's medium, checked, and every access goes through that
// descriptor.
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

#include "host/boot/message.h"
#include "host/card/block_device.h"
#include "host/card/card_medium.h"
#include "host/card/sat_identify.h"
#include "host/card/sysfs_disk.h"
#include "host/finish/finish_host.h"

namespace host {
namespace {

constexpr int kExitRefused = 1;
constexpr int kExitWriteFailed = 3;

int Refuse(const std::string& why) {
  Say(why);
  return kExitRefused;
}

bool SameDevice(const std::string& path, dev_t device) {
  struct stat status;
  return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISBLK(status.st_mode) &&
         status.st_rdev == device;
}

// Only a card, as for a write: a whole disk, removable or a loop device (a
// card in an adapter that the kernel takes for a fixed disk only when
// --fixed-disk names it), held by this process alone.
bool CheckBlockDevice(const Settings& settings, const CardMedium& medium, std::string* why) {
  SysfsDisk disk;
  if (!ReadSysfsDisk(kSysfsRoot, medium.status.st_rdev, &disk)) {
    *why = "the kernel says nothing of this device";
    return false;
  }
  if (!disk.wholeDisk.empty()) {
    *why = "a partition: give the whole card, /dev/" + disk.wholeDisk;
    return false;
  }
  if (!disk.removable && !disk.loop &&
      !SameDevice(settings.fixedDisk.value, medium.status.st_rdev)) {
    *why = "not a card: " + DiskText(disk) + " is a fixed disk; to change it anyway, give " +
           settings.fixedDisk.option + " " + medium.path + " as well";
    return false;
  }
  if (!medium.exclusive) {
    *why = "in use: a partition of it is mounted or another program holds it";
    return false;
  }
  return true;
}

bool ParseGeometry(const std::string& text, int values[3]) {
  char rest = 0;
  unsigned c = 0, h = 0, s = 0;
  if (std::sscanf(text.c_str(), "%5ux%5ux%5u%c", &c, &h, &s, &rest) != 3) return false;
  if (c == 0 || h == 0 || s == 0 || c > 65535 || h > 65535 || s > 65535) return false;
  values[0] = static_cast<int>(c);
  values[1] = static_cast<int>(h);
  values[2] = static_cast<int>(s);
  return true;
}

}  // namespace

int MakeBootable(const Settings& settings) {
  if (!settings.card.given()) {
    return Refuse(std::string(settings.makeBootable.option) +
                  " needs CARD: the card's block device or image file");
  }
  if (settings.machine.given()) {
    return Refuse(std::string(settings.makeBootable.option) + " works on CARD, not on " +
                  settings.machine.Shown());
  }
  FinishRequest request;
  std::string error;
  if (!ReadFinishRequest(settings, &request, &error)) {
    Say(error);
    return kExitRefused;
  }
  request.boot = true;

  const std::string& path = settings.card.value;
  const CardMedium& medium = CardMediumAt(path);
  if (medium.fd < 0) {
    return Refuse(path + ": " +
                  (medium.missing ? std::string("no such card")
                   : medium.openError == EINVAL
                       ? std::string("neither an image file nor a block device")
                       : std::strerror(medium.openError)));
  }
  std::string why;
  uint64_t bytes = static_cast<uint64_t>(medium.status.st_size);
  int physical[3] = {0, 0, 0};
  if (settings.geometry.given() && !ParseGeometry(settings.geometry.value, physical)) {
    return Refuse(settings.geometry.Shown() +
                  ": give cylinders x heads x sectors, each 1 to 65535");
  }
  if (medium.IsBlockDevice()) {
    if (!CheckBlockDevice(settings, medium, &why)) return Refuse(path + ": " + why);
    uint32_t sectorBytes = 0;
    if (!ReadBlockDeviceSize(medium.fd, &sectorBytes, &bytes, &why))
      return Refuse(path + ": " + why);
    if (sectorBytes != kFinishSectorBytes) {
      return Refuse(path + ": " + std::to_string(sectorBytes) + "-byte sectors (a card has 512)");
    }
    // The card's own geometry, for --bios normal, from the card when the
    // reader passes its IDENTIFY DEVICE.
    sim::CardIdentity identity;
    std::string unused;
    if (!settings.geometry.given() && AskCardIdentity(medium.fd, &identity, &unused)) {
      physical[0] = identity.cylinders;
      physical[1] = identity.heads;
      physical[2] = identity.sectorsPerTrack;
    }
  } else if (flock(medium.fd, LOCK_EX | LOCK_NB) != 0) {
    return Refuse(path + ": in use: another program holds its lock");
  }
  const uint64_t sectors = bytes / kFinishSectorBytes;

  FinishOptions options;
  if (!OptionsForCard(request, sectors, physical[1], physical[2], physical[0], &options, &why)) {
    return Refuse(request.biosShown + " cannot describe " + path + ": " + why);
  }
  DescriptorSectorIo io(medium.fd);
  FinishedCard card;
  if (!InspectCard(&io, sectors, &card, &why)) {
    return Refuse(path + ": cannot be made bootable: " + why);
  }
  if (!CheckFinishOptions(card, options, &why)) {
    return Refuse(request.biosShown + " cannot describe " + path + ": " + why);
  }

  std::printf("%s (%llu sectors):\n", path.c_str(), static_cast<unsigned long long>(sectors));
  for (const std::string& line : DescribeFinish(card, options)) std::printf("  %s\n", line.c_str());
  std::printf("Make the card bootable (Y/N)? ");
  std::fflush(stdout);
  std::string answer;
  if (!std::getline(std::cin, answer) || (answer != "Y" && answer != "y")) {
    std::printf("Nothing written.\n");
    return 0;
  }
  if (!FinishCard(&io, card, options, &why)) {
    Say(path + ": " + why);
    return kExitWriteFailed;
  }
  std::printf("Done: the card starts a PC, to a message that it holds no system yet%s.\n",
              options.withGeometry
                  ? (" (BIOS geometry " + GeometryWords(options.geometry) + ")").c_str()
                  : "");
  return 0;
}

}  // namespace host
