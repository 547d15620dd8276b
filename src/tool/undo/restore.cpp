#include "tool/undo/restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "common/ata_commands.h"
#include "host/boot/machine_options.h"
#include "host/card/card_medium.h"
#include "sim/ata_card.h"
#include "tool/command/message.h"
#include "tool/modes/report_output.h"
#include "tool/run/card_at_hand.h"
#include "tool/run/card_facts.h"
#include "tool/run/card_sectors.h"
#include "tool/undo/restore_plan.h"
#include "tool/undo/undo_format.h"

namespace tool {
namespace {

constexpr int kRefused = 1;
constexpr int kWriteFailed = 3;
constexpr size_t kRangesShown = 8;

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Shows what will be restored and asks, unless --yes answered already; true
// for Y.
bool Confirmed(const std::string& file, const UndoContents& contents, const CardAtHand& hand,
               bool yes) {
  const sim::CardIdentity& id = hand.card->settings().identity;
  const uint64_t sectors = hand.sectors;
  const uint64_t kept = contents.Sectors();
  const host::CardMedium& medium = host::CardMediumAt(hand.card->settings().image);
  const std::string geometry = std::to_string(id.cylinders) + " x " + std::to_string(id.heads) +
                               " x " + std::to_string(id.sectorsPerTrack) + " (" +
                               GeometrySourceText(medium.geometrySource, false) + ")";
  // Each name escaped: a line end or a control character in it reaches no
  // terminal.
  const std::string serial = id.serialNumber.empty() ? std::string("unknown")
                             : SerialIsAMachineFiles(medium, id.serialNumber)
                                 ? id.serialNumber + " (the machine file's)"
                                 : id.serialNumber;
  std::printf("Restore %s onto %s\n", Escaped(file).c_str(), Escaped(hand.name).c_str());
  std::printf("  card       %s, S/N %s, %llu sectors, %s\n",
              Escaped(id.model.empty() ? hand.name : id.model).c_str(), Escaped(serial).c_str(),
              static_cast<unsigned long long>(sectors), geometry.c_str());
  std::printf("  undo file  begun %s, %s\n", UndoTimeText(contents.header.time).c_str(),
              contents.closed ? "whole (its run ended)"
                              : "cut short (its run was cut): every whole record is restored");
  std::printf("  restores   %llu sectors in %zu records: %s\n",
              static_cast<unsigned long long>(kept), contents.records.size(),
              CoveredSectors(contents.records, kRangesShown).c_str());
  std::printf("Everything else on the card stays as it is.\n");
  std::printf("Proceed with restore (Y/N)? ");
  if (yes) {
    std::printf("Y (--yes)\n");
    std::fflush(stdout);
    return true;
  }
  std::fflush(stdout);
  char answer[64] = {};
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) answer[0] = 0;
  std::printf("\n");
  return answer[0] == 'Y' || answer[0] == 'y';
}

// Reads every restored sector back, each against what it was last given.
bool ReadBack(sim::AtaCard* card, const std::vector<RestoreWrite>& writes, Progress* progress,
              std::string* error) {
  std::map<uint32_t, const uint8_t*> expected;
  for (const RestoreWrite& write : writes) {
    for (uint32_t i = 0; i < write.count; ++i) {
      expected[write.first + i] = write.data + static_cast<size_t>(i) * kAtaSectorBytes;
    }
  }
  std::vector<uint8_t> back;
  for (const RestoreWrite& write : writes) {
    back.resize(static_cast<size_t>(write.count) * kAtaSectorBytes);
    if (!ReadCardSectors(card, write.first, write.count, back.data())) {
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
    progress->Advance(write.count);
  }
  return true;
}

}  // namespace

int RunRestore(ToolRun* run) {
  const std::string& file = run->settings.restore.value;
  std::vector<uint8_t> bytes;
  std::string error;
  UndoContents contents;
  UndoHeader header;
  if (!ReadUndoHeader(file, &header, &error)) {
    Say(error + "; nothing was written");
    return kRefused;
  }
  // A card named without --geometry that does not tell its own is taken
  // with the geometry the undo file's card had, before one derived from its
  // size; the machine boots with it.
  if (run->settings.machine.card.given() && !run->settings.machine.geometry.given()) {
    std::string fault = host::GeometryFault(header.cylinders, header.heads, header.sectorsPerTrack);
    if (!fault.empty()) {
      Say(file + ": the undo file's geometry " + std::to_string(header.cylinders) + " x " +
          std::to_string(header.heads) + " x " + std::to_string(header.sectorsPerTrack) +
          " cannot be addressed: " + fault + "; nothing was written");
      return kRefused;
    }
    const uint16_t recorded[3] = {header.cylinders, header.heads, header.sectorsPerTrack};
    std::copy(recorded, recorded + 3, run->settings.machine.recordedGeometry);
  }
  CardAtHand hand;
  if (!BootMachineFor(run, &error) || !TakeOneCard(&hand, &error)) {
    Say(error + (EndsWith(error, "nothing was written") ? "" : "; nothing was written"));
    return kRefused;
  }
  // Read no further than a file for this card can be.
  if (!ReadUndoFile(file, hand.sectors, &bytes, &error)) {
    Say(error + "; nothing was written");
    return kRefused;
  }
  if (!ParseUndoFile(bytes, &contents, &error)) {
    Say(file + ": " + error + "; nothing was written");
    return kRefused;
  }
  const sim::CardIdentity& id = hand.card->settings().identity;
  RestoreCard facts;
  facts.sectors = hand.sectors;
  facts.cylinders = id.cylinders;
  facts.heads = id.heads;
  facts.sectorsPerTrack = id.sectorsPerTrack;
  facts.model = id.model;
  facts.serialNumber = id.serialNumber;
  facts.serialIsTheCards =
      SerialIsTheCards(host::CardMediumAt(hand.card->settings().image), id.serialNumber);
  std::string difference = CardDifference(contents.header, facts, run->settings.force.given());
  if (difference.empty()) difference = RecordOutsideCard(contents, facts);
  if (!difference.empty()) {
    Say(hand.name + ": " + difference + "; nothing was written");
    return kRefused;
  }
  if (contents.records.empty()) {
    Say(file + ": the undo file holds no sectors; nothing was written");
    return 0;
  }
  std::vector<RestoreWrite> writes = RestoreWrites(contents);
  if (run->mode.answers == Answers::kDryRun) {
    WritesReport report{hand.name, std::string(run->settings.restore.option) + " " + file, {}};
    for (const RestoreWrite& write : writes) report.runs.push_back({write.first, write.count});
    std::fputs((run->mode.json ? WritesJson(report) : WritesText(report)).c_str(), stdout);
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }
  if (!Confirmed(file, contents, hand, run->mode.answers == Answers::kYes)) {
    Say("nothing was restored");
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }
  PlannedSectors plan;
  uint64_t sectors = 0;
  for (const RestoreWrite& write : writes) {
    plan.Add(write.first, write.count);
    sectors += write.count;
  }
  // Every restored sector is read back once more at the end.
  if (!KeepAheadOfWrite(run, &hand, plan, sectors, &error)) {
    Say(error);
    return kRefused;
  }
  BeginCardWrite();
  bool written = true;
  for (const RestoreWrite& write : writes) {
    if (!WriteCardSectors(hand.card.get(), write.first, write.count, write.data)) {
      error = "the write of sectors " + std::to_string(write.first) + "-" +
              std::to_string(write.first + write.count - 1) + " failed";
      written = false;
      break;
    }
  }
  if (written) written = ReadBack(hand.card.get(), writes, &run->progress, &error);
  const std::string name = hand.name;
  GiveBackCard(run, &hand,
               written ? name + ": " + std::to_string(sectors) + " sectors in " +
                             std::to_string(contents.records.size()) + " records restored from " +
                             file + " and read back"
                       : name + ": the restore failed: " + error);
  if (!OutputWritten(stdout, "standard output")) return 1;
  return written ? 0 : kWriteFailed;
}

}  // namespace tool
