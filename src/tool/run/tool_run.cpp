#include "tool/run/tool_run.h"

#include <vector>

#include "host/card/card_medium.h"
#include "host/host.h"

namespace tool {

host::MachineHooks HooksFor(ToolRun* run) {
  host::MachineHooks hooks;
  hooks.beforeWrite = [run](const sim::CardSettings& card, int fd, uint32_t first, uint32_t count) {
    return run->guard.KeepBeforeWrite(card, fd, first, count);
  };
  hooks.afterWrite = [run](const sim::CardSettings& card, int fd, uint32_t first, uint32_t count,
                           const uint8_t* data) {
    return run->guard.VerifyAfterWrite(card, fd, first, count, data);
  };
  hooks.writeBegins = [run](const std::vector<sim::AtaCard*>& cards) {
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
  hooks.afterRelease = [run] { run->guard.Finish(); };
  hooks.note = [run](const std::string& line) { run->notes.Add(line); };
  hooks.afterSignalGiveBack = [run] { run->notes.SayAll(); };
  return hooks;
}

ToolRun::ToolRun(const Settings& given, const Mode& chosen) : settings(given), mode(chosen) {
  guard.notes = &notes;
  finishing.notes = &notes;
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
