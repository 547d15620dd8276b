#include "tool/modes/list_run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "tool/command/message.h"
#include "tool/modes/card_scan.h"
#include "tool/modes/card_survey.h"
#include "tool/modes/report_output.h"

namespace tool {

int RunList(ToolRun* run) {
  const Settings& settings = run->settings;
  const host::Setting& named = settings.machine.card;
  BeginSurvey();
  std::vector<std::string> paths;
  std::vector<std::string> leftOut;
  if (named.given()) {
    paths.push_back(named.value);
  } else {
    CardScan scan = ScanCards(settings.all.given());
    paths = scan.cards;
    leftOut = scan.fixedDisks;
  }
  std::vector<SurveyedCard> cards;
  std::vector<std::string> unopened;
  for (const std::string& path : paths) {
    SurveyedCard card = SurveyCardAt(settings.machine, path);
    if (card.fixedDisk) {
      leftOut.push_back(path);
      continue;
    }
    if (!card.opened) unopened.push_back(OpenFailureOf(card));
    cards.push_back(card);
  }
  // A card that could not be opened is listed as such, and said once on
  // standard error: by its name when it was named, else counted.
  if (named.given() && !unopened.empty()) {
    Say(named.Shown() + ": " + unopened[0]);
  } else if (!unopened.empty()) {
    Say(std::to_string(unopened.size()) + " of the " + std::to_string(cards.size()) +
        (cards.size() == 1 ? " card" : " cards") + " present could not be opened (" + unopened[0] +
        (unopened.size() > 1 ? ", ..." : "") + ")");
  }
  if (run->mode.json) {
    for (const std::string& path : leftOut) Say(path + ": a fixed disk, left out");
  }
  std::string text = run->mode.json ? ListingJson(cards, leftOut) : ListingText(cards, leftOut);
  std::fputs(text.c_str(), stdout);
  if (!OutputWritten(stdout, "standard output")) return 1;
  return unopened.empty() ? 0 : 1;
}

}  // namespace tool
