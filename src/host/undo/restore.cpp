#include "host/undo/restore.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "host/boot/message.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/devices/write_signals.h"
#include "host/undo/restore_plan.h"
#include "host/undo/undo_format.h"
#include "host/undo/write_guard.h"
#include "sim/ata_card.h"
#include "sim/medium.h"

namespace host {
namespace {

constexpr int kRefused = 1;
constexpr int kWriteFailed = 3;
constexpr size_t kRangesShown = 8;

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
  close(fd);
  return true;
}

// The card to restore: CARD's (put into the default machine at boot), or
// the machine's one card.
bool FindCard(sim::CardSettings* card, std::string* error) {
  cards::DriverRegistry registry;
  if (!cards::ReadDriverRegistry(&registry, error)) return false;
  if (registry.cards.size() != 1) {
    *error = "the machine has " + std::to_string(registry.cards.size()) +
             " cards: name the one to restore (CARD)";
    return false;
  }
  *card = registry.cards[0];
  const CardMedium& medium = CardMediumAt(card->image);
  if (medium.fd < 0) {
    *error = card->image + ": no card to restore: " +
             (medium.missing ? std::string("there is no such file")
                             : std::string(std::strerror(medium.openError)));
    return false;
  }
  card->openMedium = OpenedCardMedium;
  card->openedExclusively = medium.exclusive;
  card->lockedWith = medium.loopBackingFile;
  GuardCardWrites(card);
  return true;
}

std::string When(int64_t seconds) {
  time_t at = static_cast<time_t>(seconds);
  struct tm utc = {};
  gmtime_r(&at, &utc);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

// Shows what will be restored and asks; true for Y.
bool Confirmed(const std::string& file, const UndoContents& contents, const sim::AtaCard& card,
               uint64_t sectors) {
  const sim::CardIdentity& id = card.settings().identity;
  uint64_t kept = 0;
  for (const UndoRecord& record : contents.records) kept += record.count;
  std::printf("Restore %s onto %s\n", file.c_str(), card.settings().image.c_str());
  std::printf("  card       %s, S/N %s, %llu sectors, %u x %u x %u\n", id.model.c_str(),
              id.serialNumber.empty() ? "unknown" : id.serialNumber.c_str(),
              static_cast<unsigned long long>(sectors), id.cylinders, id.heads, id.sectorsPerTrack);
  std::printf("  undo file  begun %s, %s\n", When(contents.header.time).c_str(),
              contents.closed ? "whole (its run ended)"
                              : "cut short (its run was cut): every whole record is restored");
  std::printf("  restores   %llu sectors in %zu records: %s\n",
              static_cast<unsigned long long>(kept), contents.records.size(),
              CoveredSectors(contents.records, kRangesShown).c_str());
  std::printf("Everything else on the card stays as it is.\n");
  std::printf("Proceed with restore (Y/N)? ");
  std::fflush(stdout);
  char answer[64] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) answer[0] = 0;
  std::printf("\n");
  return answer[0] == 'Y' || answer[0] == 'y';
}

bool WriteAt(sim::AtaCard* card, uint32_t lba, uint32_t count, const uint8_t* data) {
  const sim::CardIdentity& id = card->settings().identity;
  const uint32_t perCylinder = static_cast<uint32_t>(id.heads) * id.sectorsPerTrack;
  return card->WriteSectors(lba / perCylinder, (lba / id.sectorsPerTrack) % id.heads,
                            lba % id.sectorsPerTrack + 1, count, data);
}

bool ReadAt(sim::AtaCard* card, uint32_t lba, uint32_t count, uint8_t* data) {
  const sim::CardIdentity& id = card->settings().identity;
  const uint32_t perCylinder = static_cast<uint32_t>(id.heads) * id.sectorsPerTrack;
  return card->ReadSectors(lba / perCylinder, (lba / id.sectorsPerTrack) % id.heads,
                           lba % id.sectorsPerTrack + 1, count, data);
}

// Reads every restored sector back, each against what it was last given.
bool ReadBack(sim::AtaCard* card, const std::vector<RestoreWrite>& writes, std::string* error) {
  std::map<uint32_t, const uint8_t*> expected;
  for (const RestoreWrite& write : writes) {
    for (uint32_t i = 0; i < write.count; ++i) {
      expected[write.first + i] = write.data + static_cast<size_t>(i) * kAtaSectorBytes;
    }
  }
  std::vector<uint8_t> back;
  for (const RestoreWrite& write : writes) {
    back.resize(static_cast<size_t>(write.count) * kAtaSectorBytes);
    if (!ReadAt(card, write.first, write.count, back.data())) {
      *error = "sectors " + std::to_string(write.first) + "-" +
               std::to_string(write.first + write.count - 1) + " could not be read back";
      return false;
    }
    for (uint32_t i = 0; i < write.count; ++i) {
      if (std::memcmp(back.data() + static_cast<size_t>(i) * kAtaSectorBytes,
                      expected[write.first + i], kAtaSectorBytes) != 0) {
        *error = "sector " + std::to_string(write.first + i) + " read back other than restored";
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int RunRestore(const Settings& settings) {
  const std::string& file = settings.restore.value;
  std::vector<uint8_t> bytes;
  std::string error;
  UndoContents contents;
  if (!ReadWholeFile(file, &bytes, &error)) {
    Say(error + "; nothing was written");
    return kRefused;
  }
  if (!ParseUndoFile(bytes, &contents, &error)) {
    Say(file + ": " + error + "; nothing was written");
    return kRefused;
  }
  sim::CardSettings settingsOfCard;
  if (!FindCard(&settingsOfCard, &error)) {
    Say(error + "; nothing was written");
    return kRefused;
  }
  sim::AtaCard card(settingsOfCard);
  if (!card.OpenMedium(&error)) {
    Say(error + "; nothing was written");
    return kRefused;
  }
  RestoreCard facts;
  facts.sectors = sim::MediumSize(card.mediumDescriptor()) / kAtaSectorBytes;
  facts.cylinders = settingsOfCard.identity.cylinders;
  facts.heads = settingsOfCard.identity.heads;
  facts.sectorsPerTrack = settingsOfCard.identity.sectorsPerTrack;
  facts.model = settingsOfCard.identity.model;
  facts.serialNumber = settingsOfCard.identity.serialNumber;
  std::string difference = CardDifference(contents.header, facts, settings.force.given());
  if (!difference.empty()) {
    Say(settingsOfCard.image + ": " + difference + "; nothing was written");
    return kRefused;
  }
  if (contents.records.empty()) {
    Say(file + ": the undo file holds no sectors; nothing was written");
    return 0;
  }
  if (!card.HoldVolumeLock()) {
    Say(settingsOfCard.image + ": the card is in use; nothing was written");
    return kRefused;
  }
  if (!Confirmed(file, contents, card, facts.sectors)) {
    Say("nothing was restored");
    return 0;
  }
  std::vector<RestoreWrite> writes = RestoreWrites(contents);
  HoldEndingSignals();
  bool written = true;
  for (const RestoreWrite& write : writes) {
    if (!WriteAt(&card, write.first, write.count, write.data)) {
      error = "the write of sectors " + std::to_string(write.first) + "-" +
              std::to_string(write.first + write.count - 1) + " failed";
      written = false;
      break;
    }
  }
  if (written) written = ReadBack(&card, writes, &error);
  card.ReleaseVolumeLock();
  FinishWriteGuard();
  AfterCardsClosed({settingsOfCard.image});
  uint64_t sectors = 0;
  for (const RestoreWrite& write : writes) sectors += write.count;
  if (written) {
    AddTeardownNote(settingsOfCard.image + ": " + std::to_string(sectors) + " sectors in " +
                    std::to_string(contents.records.size()) + " records restored from " + file +
                    " and read back");
  } else {
    AddTeardownNote(settingsOfCard.image + ": the restore failed: " + error);
  }
  // Said before a signal held meanwhile ends the run.
  PrintTeardownNotes();
  ReleaseEndingSignals();
  return written ? 0 : kWriteFailed;
}

}  // namespace host
