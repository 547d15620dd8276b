#include "tool/run/card_at_hand.h"

#include <vector>

#include "common/ata_commands.h"
#include "host/card/card_holders.h"
#include "host/card/card_medium.h"
#include "host/devices/write_signals.h"
#include "host/host.h"
#include "sim/medium.h"

namespace tool {

bool TakeOneCard(CardAtHand* hand, std::string* error) {
  std::vector<sim::CardSettings> cards;
  if (!host::MachineCards(&cards, error)) return false;
  if (cards.size() != 1) {
    *error =
        "the machine has " + std::to_string(cards.size()) + " cards: name the one to write (CARD)";
    return false;
  }
  const sim::CardSettings& settings = cards[0];
  hand->name = OpenedCardName(settings.image);
  hand->card = std::make_unique<sim::AtaCard>(settings);
  if (!hand->card->OpenMedium(error)) return false;
  hand->sectors = hand->card->medium().bytes / kAtaSectorBytes;
  if (!hand->card->HoldVolumeLock()) {
    *error = hand->name +
             ": the card is in use: " + host::DescribeHolder(settings.image, settings.lockedWith) +
             "; nothing was written";
    return false;
  }
  return true;
}

bool KeepAheadOfWrite(ToolRun* run, CardAtHand* hand, const PlannedSectors& plan, uint64_t moreWork,
                      std::string* error) {
  const sim::CardSettings& settings = hand->card->settings();
  const uint64_t sectors = plan.Sectors();
  run->progress.Begin(hand->name, sectors * (1 + (run->guard.Keeps(settings) ? 1 : 0) +
                                             (run->guard.Verifies(settings) ? 1 : 0)) +
                                      moreWork);
  if (run->guard.KeepAhead(settings, hand->card->medium(), plan, error)) return true;
  run->progress.End();
  return false;
}

void BeginCardWrite() {
  host::HoldEndingSignals();
}

void GiveBackCard(ToolRun* run, CardAtHand* hand, const std::string& outcome) {
  bool written = false;
  for (const sim::Transfer& transfer : hand->card->transfers) {
    written = written || (transfer.command == kAtaWriteSectors && transfer.succeeded);
  }
  const std::string image = hand->card->settings().image;
  hand->card->ReleaseVolumeLock();
  hand->card.reset();
  run->progress.End();
  run->guard.Finish();
  if (written) host::RereadTables({image});
  run->notes.Add(outcome);
  // Said before a signal held meanwhile ends the run.
  run->notes.SayAll();
  host::ReleaseEndingSignals();
}

}  // namespace tool
