#include "host/modes/modes.h"

#include <cstdio>
#include <string>
#include <vector>

#include "host/boot/message.h"
#include "host/modes/answered_run.h"
#include "host/modes/card_scan.h"
#include "host/modes/card_survey.h"
#include "host/modes/report_output.h"

namespace host {
namespace {

// Every card present, or the one CARD names; nothing is opened for writing
// and nothing is locked. 1 when CARD names nothing that can be read.
int RunList(const Settings& settings) {
  if (settings.machine.given()) {
    Say(settings.machine.Shown() + ": --list lists the cards in this machine's readers, or CARD");
    return 1;
  }
  BeginSurvey();
  std::vector<std::string> paths;
  std::vector<std::string> leftOut;
  if (settings.card.given()) {
    paths.push_back(settings.card.value);
  } else {
    CardScan scan = ScanCards();
    paths = scan.cards;
    leftOut = scan.fixedDisks;
  }
  std::vector<SurveyedCard> cards;
  int code = 0;
  for (const std::string& path : paths) {
    SurveyedCard card = SurveyCardAt(settings, path);
    if (card.fixedDisk) {
      leftOut.push_back(path);
    } else if (card.bytes == 0 && !card.blockDevice) {
      Say(settings.card.Shown() + ": " + (card.refusal.empty() ? "an empty file" : card.refusal));
      code = 1;
    } else {
      cards.push_back(card);
    }
  }
  if (code != 0) return code;
  std::string text = settings.json ? ListingJson(cards) : ListingText(cards, leftOut);
  if (settings.json && !leftOut.empty()) {
    for (const std::string& path : leftOut) {
      Say(path + ": a fixed disk, left out");
    }
  }
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? code : 1;
}

}  // namespace

bool IsModeRun(const Settings& settings) {
  return settings.list || settings.dryRun || settings.yes;
}

int RunMode(const Settings& settings) {
  if (settings.list) return RunList(settings);
  return RunAnswered(settings);
}

}  // namespace host
