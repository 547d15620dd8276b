#include "tool/modes/report_output.h"

#include <cstdio>

#include "tool/modes/json_text.h"

namespace tool {
namespace {

// Where the main screen puts what it shows, counted from its column 5.
constexpr size_t kSystemColumn = 44;
const char kIndent[] = "     ";

std::string Format(const char* format, long a, long b, long c) {
  char text[128];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

std::string Trimmed(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

std::string GeometryRows(const CardReport& card) {
  return kIndent +
         Format("Physical %5ld cylinders x %3ld heads x %2ld sectors", card.physicalCylinders,
                card.physicalHeads, card.physicalSectors) +
         "\n" + kIndent +
         Format("Logical  %5ld cylinders x %3ld heads x %2ld sectors", card.logicalCylinders,
                card.logicalHeads, card.logicalSectors) +
         "\n";
}

std::string Field(const char* name, const std::string& value) {
  std::string line = kIndent + std::string(name);
  line.resize(14, ' ');
  return Trimmed(line + value) + "\n";
}

// The kernel's partition number of a mounted device of the card, or 0 for
// the whole card: "/dev/sdc1" and "/dev/loop0p1" are 1.
int PartitionNumber(const std::string& device, const std::string& card) {
  if (device.size() <= card.size() || device.compare(0, card.size(), card) != 0) return 0;
  std::string rest = device.substr(card.size());
  if (rest[0] == 'p') rest = rest.substr(1);
  return rest.find_first_not_of("0123456789") == std::string::npos ? std::stoi(rest) : 0;
}

// The mount point of the listing's n-th partition (from 1): the kernel
// numbers the table's entries in its order, as the listing shows them.
std::string MountPointOf(const SurveyedCard& card, int n) {
  for (const host::MountedDevice& mount : card.mounts) {
    if (PartitionNumber(mount.device, card.path) == n) return mount.mountPoint;
  }
  return std::string();
}

std::string MediaText(const SurveyedCard& card) {
  std::string itself = CallsItself(card);
  std::string text = itself.empty() ? "no IDENTIFY answer" : "calls itself " + itself;
  if (card.blockDevice) {
    text += card.kernelRemovable ? ", the kernel: removable" : ", the kernel: not removable";
  }
  if (!card.loopBackingFile.empty()) text += ", loop device over " + card.loopBackingFile;
  return text;
}

std::string SizeText(uint64_t bytes) {
  return host::DiskSizeText(bytes) + ", " + std::to_string(bytes / 512) + " sectors";
}

std::string CardText(const SurveyedCard& card) {
  std::string text = card.path + "\n";
  if (card.empty) return text + Field("Medium", "none: the reader is empty");
  text += Field("Model", card.read ? card.report.model : card.identity.model);
  text += Field("S/N", card.read ? card.report.serialNumber : card.identity.serialNumber);
  text += Field("Media", MediaText(card));
  text += Field("Size", SizeText(card.bytes));
  if (!card.read) return text + Field("Unread", card.refusal);
  text += GeometryRows(card.report);
  text += std::string(kIndent) + "            Starting        Ending     Size\n";
  text += std::string(kIndent) + "Type      Cyl Head  Sct  Cyl Head  Sct   MB System   Label\n";
  for (int i = 0; i < card.report.partitionCount; ++i) {
    std::string row = kIndent + PartitionRow(card.report.partitions[i]);
    std::string point = MountPointOf(card, i + 1);
    if (!point.empty()) row += "  mounted on " + point;
    text += Trimmed(row) + "\n";
  }
  for (const host::MountedDevice& mount : card.mounts) {
    if (PartitionNumber(mount.device, card.path) == 0) {
      text += Field("Mounted", mount.device + " on " + mount.mountPoint);
    }
  }
  return text;
}

Json Chs(long cylinder, long head, long sector) {
  return JsonObject({{"cylinder", JsonNumber(cylinder)},
                     {"head", JsonNumber(head)},
                     {"sector", JsonNumber(sector)}});
}

Json Geometry(long cylinders, long heads, long sectors) {
  return JsonObject({{"cylinders", JsonNumber(cylinders)},
                     {"heads", JsonNumber(heads)},
                     {"sectors", JsonNumber(sectors)}});
}

Json TextOrNull(const std::string& text) {
  return text.empty() ? JsonNull() : JsonString(text);
}

Json PartitionJson(const ReportedPartition& p, const std::string& mountPoint) {
  return JsonObject({{"type", JsonNumber(p.type)},
                     {"type_name", JsonString(Trimmed(p.typeName))},
                     {"start", Chs(p.startCylinder, p.startHead, p.startSector)},
                     {"end", Chs(p.endCylinder, p.endHead, p.endSector)},
                     {"mb", JsonNumber(p.sizeMb)},
                     {"system", JsonString(Trimmed(p.system))},
                     {"label", JsonString(Trimmed(p.label))},
                     {"mount_point", TextOrNull(mountPoint)}});
}

Json CardJson(const SurveyedCard& card) {
  std::vector<Json> partitions;
  for (int i = 0; card.read && i < card.report.partitionCount; ++i) {
    partitions.push_back(PartitionJson(card.report.partitions[i], MountPointOf(card, i + 1)));
  }
  std::vector<Json> mounts;
  for (const host::MountedDevice& mount : card.mounts) {
    mounts.push_back(JsonObject(
        {{"device", JsonString(mount.device)}, {"mount_point", JsonString(mount.mountPoint)}}));
  }
  const CardReport& r = card.report;
  return JsonObject(
      {{"path", JsonString(card.path)},
       {"empty", JsonBool(card.empty)},
       {"model", JsonString(Trimmed(card.read ? r.model : card.identity.model))},
       {"serial", JsonString(Trimmed(card.read ? r.serialNumber : card.identity.serialNumber))},
       {"identity_from", JsonString(IdentitySource(card))},
       {"calls_itself", TextOrNull(CallsItself(card))},
       {"kernel_removable", JsonBool(card.kernelRemovable)},
       {"loop_backing_file", TextOrNull(card.loopBackingFile)},
       {"size_bytes", JsonNumber(card.bytes)},
       {"physical",
        card.read ? Geometry(r.physicalCylinders, r.physicalHeads, r.physicalSectors) : JsonNull()},
       {"logical",
        card.read ? Geometry(r.logicalCylinders, r.logicalHeads, r.logicalSectors) : JsonNull()},
       {"partitions", JsonArray(partitions)},
       {"mounts", JsonArray(mounts)},
       {"unread", TextOrNull(card.read ? std::string() : card.refusal)}});
}

uint32_t SectorsWritten(const VolumePlan& volume) {
  uint32_t total = 0;
  for (int i = 0; i < volume.runCount; ++i) total += volume.runs[i].count;
  return total;
}

// "0, 32-155, 156" for runs of sectors.
std::string RunsText(const SectorRunPlan* runs, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(runs[i].first);
    if (runs[i].count > 1) text += "-" + std::to_string(runs[i].first + runs[i].count - 1);
  }
  return text;
}

Json RunsJson(const SectorRunPlan* runs, size_t count) {
  std::vector<Json> list;
  for (size_t i = 0; i < count; ++i) {
    list.push_back(
        JsonObject({{"first", JsonNumber(runs[i].first)}, {"count", JsonNumber(runs[i].count)}}));
  }
  return JsonArray(list);
}

// The partition's first sector as the MBR entry will hold it: where its
// volume begins.
void PlannedStart(const PlanReport& plan, long* cylinder, long* head, long* sector) {
  const long perTrack = plan.card.logicalSectors;
  const long perCylinder = perTrack * plan.card.logicalHeads;
  const long lba = plan.volume.startLba;
  *cylinder = lba / perCylinder;
  *head = lba % perCylinder / perTrack;
  *sector = lba % perTrack + 1;
}

}  // namespace

std::string PartitionRow(const ReportedPartition& p) {
  char line[128];
  std::snprintf(line, sizeof line, "%-8s %4d %4d %4d %4d %4d %4d %4d          %11s", p.typeName,
                static_cast<int>(p.startCylinder), static_cast<int>(p.startHead),
                static_cast<int>(p.startSector), static_cast<int>(p.endCylinder),
                static_cast<int>(p.endHead), static_cast<int>(p.endSector),
                static_cast<int>(p.sizeMb), p.label);
  std::string row = line;
  std::string system = p.system;
  if (row.size() < kSystemColumn + system.size()) row.resize(kSystemColumn + system.size(), ' ');
  row.replace(kSystemColumn, system.size(), system);
  return row;
}

std::string ListingText(const std::vector<SurveyedCard>& cards,
                        const std::vector<std::string>& leftOut) {
  std::string text;
  for (const SurveyedCard& card : cards) text += CardText(card) + "\n";
  text += std::to_string(cards.size()) + (cards.size() == 1 ? " card" : " cards");
  if (leftOut.empty()) return text + "; no fixed disk left out\n";
  text += "; " + std::to_string(leftOut.size()) +
          (leftOut.size() == 1 ? " fixed disk left out:" : " fixed disks left out:");
  for (const std::string& path : leftOut) text += " " + path;
  return text +
         " (not removable, no loop device, no CompactFlash answer to IDENTIFY DEVICE; "
         "--fixed-disk DEVICE DEVICE lists one)\n";
}

std::string ListingJson(const std::vector<SurveyedCard>& cards) {
  std::vector<Json> list;
  for (const SurveyedCard& card : cards) list.push_back(CardJson(card));
  return JsonArray(list).text + "\n";
}

std::string PlanText(const PlanReport& plan) {
  const ReportedPartition& p = plan.partition;
  const VolumePlan& v = plan.volume;
  long c = 0, h = 0, s = 0;
  PlannedStart(plan, &c, &h, &s);
  std::string text = plan.path + ": the plan of \"1\"\n";
  text += Field("Model", plan.card.model);
  text += Field("S/N", plan.card.serialNumber);
  text += GeometryRows(plan.card);
  char line[256];
  std::snprintf(line, sizeof line,
                "%s (type %02Xh), start %ld %ld %ld, end %d %d %d, sector %u on, %u sectors, "
                "%u MB",
                Trimmed(p.typeName).c_str(), p.type, c, h, s, static_cast<int>(p.endCylinder),
                static_cast<int>(p.endHead), static_cast<int>(p.endSector), v.startLba,
                v.totalSectors, p.sizeMb);
  text += Field("Plan", line);
  std::snprintf(line, sizeof line,
                "%s, %u sectors a cluster (%u bytes), %u reserved, 2 FATs of %u sectors, %u root "
                "entries, %u clusters",
                v.fat32 ? "FAT32" : "FAT16", v.sectorsPerCluster, v.sectorsPerCluster * 512,
                v.reservedSectors, v.fatSectors, v.rootEntries, v.clusters);
  text += Field("Volume", line);
  std::string runs = RunsText(v.runs, static_cast<size_t>(v.runCount));
  text +=
      Field("Writes", runs + " (" + std::to_string(SectorsWritten(v)) + " sectors, the MBR last)");
  if (!plan.finish.empty()) text += Field("Finish", plan.finish);
  return text;
}

std::string PlanJson(const PlanReport& plan) {
  const ReportedPartition& p = plan.partition;
  const VolumePlan& v = plan.volume;
  long c = 0, h = 0, s = 0;
  PlannedStart(plan, &c, &h, &s);
  const CardReport& r = plan.card;
  Json partition = JsonObject({{"type", JsonNumber(p.type)},
                               {"type_name", JsonString(Trimmed(p.typeName))},
                               {"start", Chs(c, h, s)},
                               {"end", Chs(p.endCylinder, p.endHead, p.endSector)},
                               {"first_sector", JsonNumber(v.startLba)},
                               {"sectors", JsonNumber(v.totalSectors)},
                               {"mb", JsonNumber(p.sizeMb)}});
  Json volume = JsonObject({{"type", JsonString(v.fat32 ? "FAT32" : "FAT16")},
                            {"sectors_per_cluster", JsonNumber(v.sectorsPerCluster)},
                            {"reserved_sectors", JsonNumber(v.reservedSectors)},
                            {"fats", JsonNumber(2)},
                            {"fat_sectors", JsonNumber(v.fatSectors)},
                            {"root_entries", JsonNumber(v.rootEntries)},
                            {"clusters", JsonNumber(v.clusters)}});
  return JsonObject(
             {{"path", JsonString(plan.path)},
              {"model", JsonString(Trimmed(r.model))},
              {"serial", JsonString(Trimmed(r.serialNumber))},
              {"physical", Geometry(r.physicalCylinders, r.physicalHeads, r.physicalSectors)},
              {"logical", Geometry(r.logicalCylinders, r.logicalHeads, r.logicalSectors)},
              {"partition", partition},
              {"file_system", volume},
              {"writes", RunsJson(v.runs, static_cast<size_t>(v.runCount))},
              {"sectors_written", JsonNumber(SectorsWritten(v))},
              {"finish", TextOrNull(plan.finish)}})
             .text +
         "\n";
}

std::string WritesText(const WritesReport& writes) {
  uint64_t total = 0;
  for (const SectorRunPlan& run : writes.runs) total += run.count;
  return writes.path + ": what " + writes.action + " would write\n" +
         Field("Writes", RunsText(writes.runs.data(), writes.runs.size()) + " (" +
                             std::to_string(total) + " sectors, in this order)");
}

std::string WritesJson(const WritesReport& writes) {
  uint64_t total = 0;
  for (const SectorRunPlan& run : writes.runs) total += run.count;
  return JsonObject({{"path", JsonString(writes.path)},
                     {"action", JsonString(writes.action)},
                     {"writes", RunsJson(writes.runs.data(), writes.runs.size())},
                     {"sectors_written", JsonNumber(static_cast<int64_t>(total))}})
             .text +
         "\n";
}

}  // namespace tool
