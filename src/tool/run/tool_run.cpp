#include "tool/run/tool_run.h"

#include <vector>

#include "app/card_report.h"
#include "common/ata_commands.h"
#include "host/card/card_medium.h"
#include "host/devices/write_signals.h"
#include "host/host.h"

namespace tool {

namespace {

// Each part of the run that writes the card, with the sectors it will write.
void SystemsVolume(const ToolRun&, const PlanSources& sources, PlannedSectors* plan) {
  for (int i = 0; i < sources.volume.runCount; ++i) {
    plan->Add(sources.volume.runs[i].first, sources.volume.runs[i].count);
  }
}

void FinishingStep(const ToolRun& run, const PlanSources& sources, PlannedSectors* plan) {
  plan->Add(run.finishing.PlannedRuns(sources.volume));
}

// The old signatures the volume leaves, cleared after it.
void OldSignatures(const ToolRun& run, const PlanSources& sources, PlannedSectors* plan) {
  const std::vector<SectorRunPlan> volume(sources.volume.runs,
                                          sources.volume.runs + sources.volume.runCount);
  plan->Add(run.finishing.OldSignaturesAfter(sources.card.image, volume));
}

using WritingPart = void (*)(const ToolRun& run, const PlanSources& sources, PlannedSectors* plan);
const WritingPart kWritingParts[] = {SystemsVolume, FinishingStep, OldSignatures};

}  // namespace

PlannedSectors PlanOfTheWrite(const ToolRun& run, const PlanSources& sources) {
  PlannedSectors plan;
  for (WritingPart part : kWritingParts) part(run, sources, &plan);
  return plan;
}

void PlanTheWrite(ToolRun* run, const std::vector<sim::AtaCard*>& cards) {
  if (run->writePlanned) return;
  const sim::AtaCard* selected = host::SelectedCard();
  ReportedPartition partition;
  VolumePlan volume;
  if (selected == nullptr || !ReportPlan(&partition, &volume)) return;
  // The card's medium is opened at its first transfer; a card whose device
  // handles were opened again for the write may have had none yet.
  for (sim::AtaCard* card : cards) {
    std::string unused;
    if (card == selected) card->OpenMedium(&unused);
  }
  if (selected->medium().fd < 0) return;
  run->writePlanned = true;
  // The write has begun with its undo file: a signal that ends the run
  // waits for it, as it waits for the write's commands.
  host::HoldEndingSignals();
  const sim::CardSettings& settings = selected->settings();
  const PlannedSectors plan = PlanOfTheWrite(*run, {settings, selected->medium(), volume});
  const uint64_t sectors = plan.Sectors();
  // Each planned sector is read ahead for the undo file, written, and read
  // back, as far as the card does each.
  run->progress.Begin(OpenedCardName(settings.image),
                      sectors * (1 + (run->guard.Keeps(settings) ? 1 : 0) +
                                 (run->guard.Verifies(settings) ? 1 : 0)));
  std::string error;
  if (!run->guard.KeepAhead(settings, selected->medium(), plan, &error)) run->notes.Add(error);
}

host::MachineHooks HooksFor(ToolRun* run) {
  host::MachineHooks hooks;
  hooks.beforeWrite = [run](const sim::CardSettings& card, const sim::Medium& medium,
                            uint32_t first, uint32_t count) {
    return run->guard.KeepBeforeWrite(card, medium, first, count);
  };
  hooks.afterWrite = [run](const sim::CardSettings& card, const sim::Medium& medium, uint32_t first,
                           uint32_t count, const uint8_t* data) {
    bool kept = run->guard.VerifyAfterWrite(card, medium, first, count, data);
    run->progress.Advance(count * (run->guard.Verifies(card) ? 2 : 1));
    return kept;
  };
  hooks.pause = [run] { PlanTheWrite(run, {}); };
  hooks.writeBegins = [run](const std::vector<sim::AtaCard*>& cards) {
    PlanTheWrite(run, cards);
    run->finishing.KeepLocks(cards);
  };
  hooks.beforeRelease = [run](const std::vector<sim::AtaCard*>& cards) {
    for (const sim::AtaCard* card : cards) {
      if (EndedWithMasterBootRecord(*card)) {
        run->written.push_back(OpenedCardName(card->settings().image));
      }
    }
    run->finishing.FinishWrittenCards(cards);
  };
  hooks.afterRelease = [run] {
    run->progress.End();
    run->guard.Finish();
  };
  hooks.note = [run](const std::string& line) { run->notes.Add(line); };
  hooks.afterSignalGiveBack = [run] { run->notes.SayAll(); };
  return hooks;
}

ToolRun::ToolRun(const Settings& given, const Mode& chosen) : settings(given), mode(chosen) {
  guard.notes = &notes;
  guard.progress = &progress;
  finishing.notes = &notes;
  // A long write shows how far it has come where nobody watches a screen of
  // the system's: --yes, and a restore.
  progress.enabled = mode.Writes() &&
                     (mode.answers == Answers::kYes || mode.action == Action::kRestore) &&
                     Progress::ForTerminal();
}

bool BootMachineFor(ToolRun* run, std::string* error) {
  host::MachineOptions options = run->settings.machine;
  if (run->mode.action == Action::kList) {
    options.media = host::MediaUse::kLook;
  } else if (run->mode.answers == Answers::kDryRun) {
    options.media = host::MediaUse::kCheck;
  }
  if (!host::BootMachine(options, HooksFor(run), error)) return false;
  if (run->mode.action == Action::kList) return true;
  std::vector<sim::CardSettings> cards;
  if (!host::MachineCards(&cards, error)) return false;
  // What the system's write would leave of old signatures is read now,
  // before anything is written.
  if (run->mode.action == Action::kWrite) run->finishing.FindOldSignatures(cards);
  return ReadFinishRequest(run->settings, &run->finishing.request, error) &&
         run->finishing.CheckCards(cards, error) &&
         run->guard.Prepare(run->settings, cards, run->mode.answers == Answers::kDryRun, error);
}

std::string OpenedCardName(const std::string& image) {
  return host::CardMediumAt(image).shownName;
}

int EndRun(ToolRun* run, int code, FILE* out) {
  host::StopConsole();
  run->notes.SayAll();
  if (out != nullptr && !OutputWritten(out, "standard output")) return 1;
  return code;
}

}  // namespace tool
