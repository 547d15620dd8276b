#include "host/modes/answered_run.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "app/card_report.h"
#include "app/run_utility.h"
#include "host/boot/message.h"
#include "host/console/line_console.h"
#include "host/host.h"
#include "host/modes/report_output.h"

namespace host {
namespace {

constexpr int kEnter = '\r';
constexpr int kEsc = 27;

// The texts by which the answerer knows the system's key waits.
const char kMenuPrompt[] = "Enter choice:";
const char kWarningPrompt[] = "(Y/N)?";
const char kExitPrompt[] = "Press Esc to exit";

struct Answering {
  bool write = false;
  bool json = false;
  std::string card;
  FILE* out = nullptr;    // standard output as the program got it
  FILE* lines = nullptr;  // where the system's lines go
  int menuWaits = 0;
  int warningWaits = 0;
  bool planShown = false;
  std::vector<std::string> printed = std::vector<std::string>(25);
};

Answering& State() {
  static Answering* state = new Answering;
  return *state;
}

bool Shows(const std::vector<std::string>& rows, const char* text) {
  for (const std::string& row : rows) {
    if (row.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string Stripped(const std::string& row) {
  size_t first = row.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return row.substr(first, row.find_last_not_of(' ') - first + 1);
}

// The rows not printed before, each as a line; the prompt the console
// answers itself is not a message.
void PrintNewRows(const std::vector<std::string>& rows) {
  Answering& state = State();
  for (size_t i = 0; i < rows.size() && i < state.printed.size(); ++i) {
    std::string text = Stripped(rows[i]);
    if (text == state.printed[i]) continue;
    state.printed[i] = text;
    if (text.empty() || text.find(kExitPrompt) == 0) continue;
    std::fprintf(state.lines, "%s%s\n", state.json ? "dunmore: " : "", text.c_str());
  }
  std::fflush(state.lines);
}

void PrintPlan() {
  Answering& state = State();
  PlanReport plan;
  plan.path = state.card;
  if (!ReportOpenedCard(&plan.card) || !ReportPlan(&plan.partition, &plan.volume)) return;
  std::string text = state.json ? PlanJson(plan) : PlanText(plan);
  std::fputs(text.c_str(), state.out);
  std::fflush(state.out);
  state.planShown = true;
}

int Answer(const std::vector<std::string>& rows, int /*column*/, int /*row*/) {
  Answering& state = State();
  if (Shows(rows, kExitPrompt)) {
    PrintNewRows(rows);
    return kEsc;
  }
  if (Shows(rows, kMenuPrompt)) {
    // The main screen is what the plan stands for: none of it is printed.
    state.printed.assign(state.printed.size(), std::string());
    switch (++state.menuWaits) {
      case 1:
        return '1';
      case 2:
        return kEnter;
      case 3:
        PrintPlan();
        return state.write && state.planShown ? '2' : kEsc;
      default:
        return kEnter;
    }
  }
  if (Shows(rows, kWarningPrompt)) {
    // The warning is printed with the answer in its field.
    if (++state.warningWaits == 1) return 'Y';
    PrintNewRows(rows);
    return kEnter;
  }
  // A wait the run does not know: ended as Esc ends it, without a write.
  PrintNewRows(rows);
  return kEsc;
}

// A pause of the system's with a message on the screen.
void Shown(const std::vector<std::string>& rows) {
  PrintNewRows(rows);
}

const char* Outcome(int code) {
  switch (code) {
    case kRunDone:
      return "written";
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

}  // namespace

int RunAnswered(const Settings& settings) {
  Answering& state = State();
  state.write = settings.yes;
  state.json = settings.json;
  state.card = settings.card.given() ? settings.card.value : "pccard.img";
  // The start-up would make a missing image; a dry run makes nothing.
  struct stat status;
  if (!state.write && !settings.machine.given() && lstat(state.card.c_str(), &status) != 0 &&
      errno == ENOENT) {
    Say((settings.card.given() ? settings.card.Shown() : state.card) +
        ": no such card image; a dry run creates none");
    return 1;
  }
  // The console takes standard output for the system's own text; what this
  // run prints goes to the stream standard output was.
  state.out = stdout;
  state.lines = settings.json ? stderr : stdout;
  StartLineConsole(Answer, Shown);
  Boot(settings);
  int code = RunUtility();
  if (!state.write) {
    if (state.planShown) return 0;
    Say(state.card + ": no plan: " + Outcome(code));
    return code;
  }
  std::fprintf(state.out, "%s: %s (exit %d)\n", state.card.c_str(), Outcome(code), code);
  std::fflush(state.out);
  return code;
}

}  // namespace host
