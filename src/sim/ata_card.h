// A PC Card ATA disk (CompactFlash class) over an image file or a block
// device, answering IDENTIFY DEVICE, READ SECTORS and WRITE SECTORS at
// physical cylinder, head and sector as the card's own controller does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/identify_layout.h"
#include "sim/medium.h"

namespace sim {

struct SectorRange {
  uint32_t first;
  uint32_t last;  // inclusive
};

// How a card is described: plain values, so that the model depends on no
// registry and no host.
struct CardSettings {
  std::string image;  // path of the medium, relative to the current folder
  uint16_t ioBase = 0;
  uint16_t controlPort = 0;
  // What IDENTIFY DEVICE reports: geometry words 1, 3 and 6 exactly as the
  // card gives them, so that a broken card (0, or 0x8000 and more) can be
  // described, and the identity texts.
  CardIdentity identity;
  // The drives VWIN32 maps to this card: those the device registry gives it.
  std::string driveLetters;
  uint8_t int13Unit = 0x81;
  std::vector<SectorRange> badSectors;
  // Sectors that read back but refuse WRITE SECTORS, as a worn flash block
  // that can no longer be programmed.
  std::vector<SectorRange> badWriteSectors;
  // Sectors whose WRITE SECTORS the card acknowledges and does not keep, as
  // a fake or dying card does: the command succeeds, the old data stays.
  std::vector<SectorRange> lostWriteSectors;
  // A power cut for crash tests: when killAtWrite is N (nonzero), powerCut
  // runs as the N-th WRITE SECTORS command arrives, before any of its sectors
  // is written. The host supplies it (the simulated machine ends its process
  // at once); the model itself depends on no operating system.
  uint32_t killAtWrite = 0;
  void (*powerCut)() = nullptr;
  // A pause for tests that act between two commands of a write: when
  // stopAtWrite is N (nonzero), stop runs as the N-th WRITE SECTORS command
  // arrives, before any of its sectors is written, and the command goes on
  // once it returns. The host supplies it too.
  uint32_t stopAtWrite = 0;
  void (*stop)() = nullptr;
  // The host's own steps around each WRITE SECTORS command, for a host that
  // keeps what a write overwrites and reads back what it wrote: beforeWrite
  // runs once the card knows which sectors the command will write (count of
  // them from first, on the medium), before any is written; afterWrite runs
  // once they are written, with the data sent. Either one answering false
  // fails the command as a write error (before it, nothing written).
  std::function<bool(const CardSettings& card, const Medium& medium, uint32_t first,
                     uint32_t count)>
      beforeWrite;
  std::function<bool(const CardSettings& card, const Medium& medium, uint32_t first, uint32_t count,
                     const uint8_t* data)>
      afterWrite;
  // A file locked together with the medium, when the host knows one: a loop
  // device's backing file, so that a run on the file and a run on the loop
  // device over it hold one lock between them.
  std::string lockedWith;
  // Who opens the medium. Null: the card opens `image` by name on its first
  // use. Set: the host has opened the image's path already (once, where it
  // checked it) and answers with that descriptor, or creates a new image
  // and keeps it; the card borrows the descriptor, never closes it, and
  // takes its volume lock on it. -1 with *error set when there is none.
  int (*openMedium)(const std::string& image, uint64_t newSize, std::string* error) = nullptr;
  // With openMedium: the host holds the medium exclusively already (a block
  // device opened for this process alone), which is the volume lock.
  bool openedExclusively = false;
};

// One READ SECTORS or WRITE SECTORS command as the card received it.
struct Transfer {
  uint8_t command;  // kAtaReadSectors or kAtaWriteSectors
  uint32_t firstSector;
  uint32_t count;
  bool succeeded;
};

class AtaCard {
 public:
  explicit AtaCard(const CardSettings& settings);
  ~AtaCard();
  AtaCard(const AtaCard&) = delete;
  AtaCard& operator=(const AtaCard&) = delete;

  // Opens the medium, creating a new image file sparse at C x H x S x 512
  // bytes; an existing one is used as it is. False with *error set when the
  // medium cannot be opened. The first transfer and the first volume lock
  // open it when nothing did before, so that a card the utility never reads
  // leaves no image behind.
  bool OpenMedium(std::string* error);

  bool Identify(uint8_t block[kIdentifyBlockBytes]);
  bool ReadSectors(uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
                   uint8_t* data);
  bool WriteSectors(uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
                    const uint8_t* data);

  const CardSettings& settings() const { return settings_; }
  // For tests that describe a card no registry value can, such as identify
  // text holding a NUL.
  CardSettings& mutable_settings() { return settings_; }
  int mediumDescriptor() const { return medium_.fd; }
  // The medium as it was found when opened (fd -1 before).
  const Medium& medium() const { return medium_; }

  // The physical volume lock on this card's medium, held for the whole
  // process: the ATA commands never take it, only the VWIN32 model does. The
  // first hold takes an exclusive lock on a descriptor of its own, so that
  // holds in this process nest while another process is refused; the last
  // release drops it.
  bool HoldVolumeLock();
  bool ReleaseVolumeLock();
  int volumeLockDepth() const { return lockDepth_; }
  // Whether a hold was refused because another holder had the medium.
  bool volumeLockRefused() const { return lockRefused_; }

  // Every transfer command in the order it arrived; tests count calls here.
  std::vector<Transfer> transfers;

 private:
  bool Move(uint8_t command, uint32_t cylinder, uint32_t head, uint32_t sector, uint32_t count,
            uint8_t* readInto, const uint8_t* writeFrom);
  uint32_t FirstBadSector(uint32_t first, uint32_t count, bool writing) const;
  // Writes count sectors from first that the card accepted, between the
  // host's steps around the command.
  bool Write(uint32_t first, uint32_t count, const uint8_t* data);
  // The first sector in [first, end) whose write the card loses, or end.
  uint32_t FirstLostSector(uint32_t first, uint32_t end) const;
  // Gives back whatever the volume lock holds, whatever the depth.
  void ReleaseVolumeLockNow();

  CardSettings settings_;
  Medium medium_;
  int lockFd_ = -1;
  int lockWithFd_ = -1;
  bool locked_ = false;
  bool lockedOpened_ = false;  // a lock taken on the host's descriptor
  int lockDepth_ = 0;
  bool lockRefused_ = false;
  uint32_t writeCommands_ = 0;
};

}  // namespace sim
