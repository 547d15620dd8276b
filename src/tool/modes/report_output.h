// The listing of cards and the plan of a write, as text for people (the
// main screen's own rows where the screen shows the same) and as JSON for
// scripts. The JSON field names are documented in the manual page; keep
// them stable. Text escapes every control character and byte that is not
// UTF-8 (\xHH); JSON strings are valid UTF-8, a byte that is none as the
// text \xHH; labels are decoded from the DOS code page (dos_text.h).
#pragma once

#include <string>
#include <vector>

#include "app/card_report.h"
#include "tool/modes/card_survey.h"

namespace tool {

std::string ListingText(const std::vector<SurveyedCard>& cards,
                        const std::vector<std::string>& leftOut);
std::string ListingJson(const std::vector<SurveyedCard>& cards,
                        const std::vector<std::string>& leftOut);

struct PlanReport {
  std::string path;
  CardReport card;
  host::GeometrySource geometrySource = host::GeometrySource::kNone;
  bool geometryOptionSetAside = false;
  host::TextSource modelSource = host::TextSource::kNone;
  host::TextSource serialSource = host::TextSource::kNone;
  // Old signatures that the write leaves and that are cleared after it.
  std::vector<SectorRunPlan> clears;
  ReportedPartition partition;
  VolumePlan volume;
  std::string finish;  // what the finishing step will do after it; empty: nothing
};

std::string PlanText(const PlanReport& plan);
std::string PlanJson(const PlanReport& plan);

// What a dry run of --restore or --make-bootable would write: the runs of
// sectors in the order they would be written.
struct WritesReport {
  std::string path;
  std::string action;  // "--restore FILE", "--make-bootable"
  std::vector<SectorRunPlan> runs;
};

std::string WritesText(const WritesReport& writes);
std::string WritesJson(const WritesReport& writes);

// The main screen's row of a partition, without its five leading blanks,
// its label and file-system name decoded.
std::string PartitionRow(const ReportedPartition& partition);

// "0, 32-155, 156" for runs of sectors.
std::string RunsText(const std::vector<SectorRunPlan>& runs);

}  // namespace tool
