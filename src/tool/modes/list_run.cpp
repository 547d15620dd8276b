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
    CardScan scan = ScanCards();
    paths = scan.cards;
    leftOut = scan.fixedDisks;
  }
  std::vector<SurveyedCard> cards;
  int code = 0;
  for (const std::string& path : paths) {
    SurveyedCard card = SurveyCardAt(settings.machine, path);
    if (card.fixedDisk) {
      leftOut.push_back(path);
    } else if (card.bytes == 0 && !card.blockDevice) {
      Say(named.Shown() + ": " + (card.refusal.empty() ? "an empty file" : card.refusal));
      code = 1;
    } else {
      cards.push_back(card);
    }
  }
  if (code != 0) return code;
  std::string text = run->mode.json ? ListingJson(cards) : ListingText(cards, leftOut);
  if (run->mode.json && !leftOut.empty()) {
    for (const std::string& path : leftOut) {
      Say(path + ": a fixed disk, left out");
    }
  }
  std::fputs(text.c_str(), stdout);
  return OutputWritten(stdout, "standard output") ? code : 1;
}

}  // namespace tool
