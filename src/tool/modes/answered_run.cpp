#include "tool/modes/answered_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/card_report.h"
#include "app/run_utility.h"
#include "host/card/card_medium.h"
#include "host/console/line_console.h"
#include "host/host.h"
#include "tool/command/message.h"
#include "tool/modes/report_output.h"

namespace tool {
namespace {

constexpr int kEnter = '\r';
constexpr int kEsc = 27;

// The prompts by which the answerer knows the system's key waits: each is
// drawn on the row of the cursor and ends left of it, where the input field
// (its '[' and what is typed in it) or the cursor itself follows.
const char kMenuPrompt[] = "Enter choice:";
const char kWarningPrompt[] = "(Y/N)?";
const char kExitPrompt[] = "Press Esc to exit";

enum class Wait { kMenu, kWarning, kExit, kOther };

struct Answering {
  ToolRun* run = nullptr;
  FILE* out = nullptr;    // standard output as the program got it
  FILE* lines = nullptr;  // where the system's lines go
  int menuWaits = 0;
  int warningWaits = 0;
  bool planShown = false;
  bool confirmed = false;  // "Y" was typed at the warning
  std::string card;        // the card the system works on, once known
  std::vector<std::string> printed = std::vector<std::string>(25);
};

std::string Stripped(const std::string& row) {
  size_t first = row.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return row.substr(first, row.find_last_not_of(' ') - first + 1);
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Which wait this is, by the prompt left of the cursor on its row: text
// anywhere else on the screen (a card's model, a label) is never read as one.
Wait KnowWait(const std::vector<std::string>& rows, int column, int row) {
  if (row < 0 || row >= static_cast<int>(rows.size())) return Wait::kOther;
  std::string left = rows[static_cast<size_t>(row)].substr(0, static_cast<size_t>(column));
  size_t field = left.find_last_of('[');
  std::string prompt = left;
  if (field != std::string::npos) prompt = left.substr(0, field);
  prompt = prompt.substr(0, prompt.find_last_not_of(' ') + 1);
  if (field != std::string::npos && EndsWith(prompt, kMenuPrompt)) return Wait::kMenu;
  if (field != std::string::npos && EndsWith(prompt, kWarningPrompt)) return Wait::kWarning;
  left = left.substr(0, left.find_last_not_of(' ') + 1);
  if (left.find(kExitPrompt) != std::string::npos) return Wait::kExit;
  return Wait::kOther;
}

// The rows not printed before, each as a line; the prompt the console
// answers itself is not a message.
void PrintNewRows(Answering* state, const std::vector<std::string>& rows) {
  for (size_t i = 0; i < rows.size() && i < state->printed.size(); ++i) {
    std::string text = Stripped(rows[i]);
    if (text == state->printed[i]) continue;
    state->printed[i] = text;
    if (text.empty() || text.find(kExitPrompt) == 0) continue;
    std::fprintf(state->lines, "%s%s\n", state->run->mode.json ? "dunmore: " : "",
                 Escaped(text).c_str());
  }
  std::fflush(state->lines);
}

void PrintPlan(Answering* state) {
  PlanReport plan;
  plan.path = state->card;
  if (!ReportOpenedCard(&plan.card) || !ReportPlan(&plan.partition, &plan.volume)) return;
  if (const sim::AtaCard* card = host::SelectedCard()) {
    const host::CardMedium& medium = host::CardMediumAt(card->settings().image);
    plan.geometrySource = medium.geometrySource;
    plan.geometryOptionSetAside = medium.geometryOptionSetAside;
    plan.modelSource = medium.modelSource;
    plan.serialSource = medium.serialSource;
    plan.clears = state->run->finishing.OldSignaturesAfter(
        card->settings().image,
        std::vector<SectorRunPlan>(plan.volume.runs, plan.volume.runs + plan.volume.runCount));
  }
  plan.finish = state->run->finishing.Planned(plan.volume);
  std::string text = state->run->mode.json ? PlanJson(plan) : PlanText(plan);
  std::fputs(text.c_str(), state->out);
  std::fflush(state->out);
  state->planShown = true;
}

int Answer(Answering* state, const std::vector<std::string>& rows, int column, int row) {
  if (const sim::AtaCard* card = host::SelectedCard()) {
    state->card = OpenedCardName(card->settings().image);
  }
  const bool write = state->run->mode.answers == Answers::kYes;
  switch (KnowWait(rows, column, row)) {
    case Wait::kExit:
      PrintNewRows(state, rows);
      return kEsc;
    case Wait::kMenu:
      // The main screen is what the plan stands for: none of it is printed.
      state->printed.assign(state->printed.size(), std::string());
      switch (++state->menuWaits) {
        case 1:
          return '1';
        case 2:
          return kEnter;
        case 3:
          PrintPlan(state);
          return write && state->planShown ? '2' : kEsc;
        default:
          return kEnter;
      }
    case Wait::kWarning:
      // The warning is printed with the answer in its field.
      if (++state->warningWaits == 1) return 'Y';
      PrintNewRows(state, rows);
      state->confirmed = true;
      return kEnter;
    case Wait::kOther:
      break;
  }
  // A wait the run does not know: ended as Esc ends it, without a write.
  PrintNewRows(state, rows);
  return kEsc;
}

// What the run did, from what it did: the card's MBR written, or where it
// ended without it.
std::string Outcome(const Answering& state, int code) {
  const std::vector<std::string>& written = state.run->written;
  if (code == kRunDone && !written.empty()) return "written";
  switch (code) {
    case kRunDone:
      if (state.warningWaits == 0) return "nothing to write";
      return state.confirmed ? "nothing written" : "declined, nothing written";
    case kRunStartUpFailed:
      return "refused at start-up, nothing written";
    case kRunMainScreenEnded:
      return "ended at the menu, nothing written";
    case kRunWriteFailed:
      return "the write failed";
    default:
      return "ended, nothing written";
  }
}

// The card the run is about, when the system never got to choose one: the
// machine's one card, or else the machine itself.
std::string CardOfMachine(const ToolRun& run) {
  std::vector<sim::CardSettings> cards;
  std::string error;
  if (host::MachineCards(&cards, &error) && cards.size() == 1) {
    return OpenedCardName(cards[0].image);
  }
  return run.settings.machine.file.given() ? run.settings.machine.file.value
                                           : std::string("default machine");
}

}  // namespace

int RunAnswered(ToolRun* run) {
  Answering state;
  state.run = run;
  // The console takes standard output for the system's own text; what this
  // run prints goes to the stream standard output was.
  state.out = stdout;
  state.lines = run->mode.json ? stderr : stdout;
  std::string error;
  if (!BootMachineFor(run, &error)) {
    Say(error);
    return 1;
  }
  host::StartLineConsole(
      [&state](const std::vector<std::string>& rows, int column, int row) {
        return Answer(&state, rows, column, row);
      },
      [&state](const std::vector<std::string>& rows) { PrintNewRows(&state, rows); });
  int code = RunUtility();
  if (state.card.empty()) state.card = CardOfMachine(*run);
  if (run->mode.answers == Answers::kDryRun) {
    if (!state.planShown) {
      run->notes.Add(state.card + ": no plan: " + Outcome(state, code));
      return EndRun(run, code, state.out);
    }
    return EndRun(run, 0, state.out);
  }
  std::fprintf(state.out, "%s: %s (exit %d)\n", Escaped(state.card).c_str(),
               Outcome(state, code).c_str(), code);
  return EndRun(run, code, state.out);
}

}  // namespace tool
