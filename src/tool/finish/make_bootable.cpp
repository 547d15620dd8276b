// dunmore --make-bootable: the finishing step alone, on a card that already
// holds one FAT16 or FAT32 partition, made by this program or by other
// tools. The card is the machine's, opened and checked by its boot as for a
// write, and written through its model: what it overwrites is kept in the
// run's undo file and read back, under the card's lock and with the signals
// that end a run held.
#include "tool/finish/make_bootable.h"

#include <cstdio>
#include <iostream>

#include "format/fat_layout.h"
#include "host/card/card_medium.h"
#include "tool/command/message.h"
#include "tool/modes/report_output.h"
#include "tool/run/card_at_hand.h"

namespace tool {
namespace {

constexpr int kExitRefused = 1;
constexpr int kExitWriteFailed = 3;

int Refuse(const std::string& why) {
  Say(why);
  return kExitRefused;
}

// The sectors FinishCard writes, in its order: the boot sector's copy, the
// boot sector, the master boot record last.
std::vector<SectorRunPlan> FinishedSectors(const FinishedCard& card) {
  std::vector<SectorRunPlan> runs;
  if (card.backupSector != 0) runs.push_back({card.backupSector, 1});
  runs.push_back({card.firstSector, 1});
  runs.push_back({0, 1});
  return runs;
}

}  // namespace

int MakeBootable(ToolRun* run) {
  std::string error;
  CardAtHand hand;
  if (!BootMachineFor(run, &error) || !TakeOneCard(&hand, &error)) return Refuse(error);
  FinishRequest request = run->finishing.request;
  request.boot = true;
  const sim::CardIdentity& id = hand.card->settings().identity;
  // The card's own heads and sectors, for --bios normal: never a geometry
  // made up from the image's size.
  const bool own = host::CardMediumAt(hand.card->settings().image).geometrySource !=
                   host::GeometrySource::kDerived;
  FinishOptions options;
  std::string why;
  if (!OptionsForCard(request, hand.sectors, own ? id.heads : 0, own ? id.sectorsPerTrack : 0,
                      own ? id.cylinders : 0, &options, &why)) {
    return Refuse(request.biosShown + " cannot describe " + hand.name + ": " + why);
  }
  CardSectorIo io(hand.card.get());
  FinishedCard card;
  if (!InspectCard(&io, hand.sectors, &card, &why)) {
    return Refuse(hand.name + ": cannot be made bootable: " + why);
  }
  if (!CheckFinishOptions(card, options, &why)) {
    return Refuse(request.biosShown + " cannot describe " + hand.name + ": " + why);
  }
  if (run->mode.answers == Answers::kDryRun) {
    WritesReport report{hand.name, run->settings.makeBootable.option, FinishedSectors(card)};
    std::fputs((run->mode.json ? WritesJson(report) : WritesText(report)).c_str(), stdout);
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }

  std::printf("%s (%llu sectors):\n", Escaped(hand.name).c_str(),
              static_cast<unsigned long long>(hand.sectors));
  for (const std::string& line : DescribeFinish(card, options)) std::printf("  %s\n", line.c_str());
  std::printf("Make the card bootable (Y/N)? ");
  if (run->mode.answers == Answers::kYes) {
    std::printf("Y (--yes)\n");
  } else {
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer) || (answer != "Y" && answer != "y")) {
      std::printf("Nothing written.\n");
      return OutputWritten(stdout, "standard output") ? 0 : 1;
    }
  }
  std::fflush(stdout);
  PlannedSectors plan;
  plan.Add(FinishedSectors(card));
  if (!KeepAheadOfWrite(run, &hand, plan, 0, &error)) return Refuse(error);
  BeginCardWrite();
  bool done = FinishCard(&io, card, options, &why);
  const std::string name = hand.name;
  GiveBackCard(run, &hand, done ? name + ": finished" : name + ": " + why);
  if (done) {
    std::printf("Done: the card starts a PC, to a message that it holds no system yet%s.\n",
                options.withGeometry
                    ? (" (BIOS geometry " + GeometryWords(options.geometry) + ")").c_str()
                    : "");
  }
  if (!OutputWritten(stdout, "standard output")) return 1;
  return done ? 0 : kExitWriteFailed;
}

}  // namespace tool
