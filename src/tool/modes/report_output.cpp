#include "tool/modes/report_output.h"

#include <algorithm>
#include <cstdio>

#include "tool/command/message.h"
#include "tool/modes/dos_text.h"
#include "tool/modes/json_text.h"
#include "tool/run/card_facts.h"

namespace tool {
namespace {

using host::TextSource;

// Where the main screen puts what it shows, counted from its column 5.
constexpr size_t kSystemColumn = 44;
constexpr size_t kLabelWidth = 11;
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

// A FAT text of a boot sector as the outputs show it.
std::string VolumeText(const char* bytes) {
  return Trimmed(FromCodePage437(bytes));
}

// The characters of UTF-8 text, for the columns it takes.
size_t Characters(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return count;
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

// A named line of the text outputs, its value escaped: a name or a label
// never breaks the line or acts on the terminal.
std::string Field(const char* name, const std::string& value) {
  std::string line = kIndent + std::string(name);
  line.resize(14, ' ');
  return Trimmed(line + Escaped(value)) + "\n";
}

// What a text's source adds to it in the text outputs.
std::string SourceNote(TextSource source) {
  switch (source) {
    case TextSource::kKernel:
      return " (the kernel's vendor and model text)";
    case TextSource::kFileName:
      return " (the image's file name)";
    case TextSource::kPath:
      return " (its path: the card gives no model text)";
    case TextSource::kCardKey:
      return " (the machine file's)";
    default:
      return std::string();
  }
}

Json TextOrNull(const std::string& text) {
  return text.empty() ? JsonNull() : JsonString(text);
}

Json NameOrNull(const char* name) {
  return name == nullptr ? JsonNull() : JsonString(name);
}

// The mount point of a partition, by the kernel's node of it.
std::string MountPointOf(const SurveyedCard& card, const std::string& node) {
  for (const host::MountedDevice& mount : card.mounts) {
    if (!node.empty() && mount.device == node) return mount.mountPoint;
  }
  return std::string();
}

bool ShownWithAPartition(const SurveyedCard& card, const std::string& device) {
  for (const SurveyedPartition& entry : card.entries) {
    if (!entry.node.empty() && entry.node == device) return true;
  }
  return false;
}

std::string MediaText(const SurveyedCard& card) {
  std::string itself = CallsItself(card);
  std::string text = itself.empty() ? "no IDENTIFY answer" : "calls itself " + itself;
  if (card.blockDevice) {
    text += card.kernelRemovable ? ", the kernel: removable" : ", the kernel: not removable";
  }
  if (card.readOnly) text += ", read-only";
  if (!card.loopBackingFile.empty()) text += ", loop device over " + card.loopBackingFile;
  return text;
}

std::string SizeText(uint64_t bytes) {
  return host::DiskSizeText(bytes) + ", " + std::to_string(bytes / 512) + " sectors";
}

std::string CardText(const SurveyedCard& card) {
  std::string text = Escaped(card.path) + "\n";
  if (!card.opened) return text + Field("Unread", OpenFailureOf(card));
  if (card.empty) return text + Field("Medium", "none: the reader is empty");
  TextSource source = TextSource::kNone;
  std::string model = CardModel(card, &source);
  text += Field("Model", model + SourceNote(source));
  std::string serial = CardSerial(card, &source);
  text += Field("S/N", serial.empty() ? "none" : serial + SourceNote(source));
  text += Field("Media", MediaText(card));
  text += Field("Size", SizeText(card.bytes));
  if (!card.read) return text + Field("Unread", card.refusal);
  text += GeometryRows(card.report);
  text += Field("Geometry", GeometrySourceText(card.geometrySource, card.geometryOptionSetAside));
  text += std::string(kIndent) + "            Starting        Ending     Size\n";
  text += std::string(kIndent) + "Type      Cyl Head  Sct  Cyl Head  Sct   MB System   Label\n";
  for (int i = 0; i < card.report.partitionCount; ++i) {
    std::string row = kIndent + PartitionRow(card.report.partitions[i]);
    std::string point = MountPointOf(card, card.entries[static_cast<size_t>(i)].node);
    if (!point.empty()) row += "  mounted on " + Escaped(point);
    text += Trimmed(row) + "\n";
  }
  for (const host::MountedDevice& mount : card.mounts) {
    if (!ShownWithAPartition(card, mount.device)) {
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

// A partition type byte as sfdisk writes it: "6", "c", "ee".
Json TypeJson(uint8_t type) {
  char text[4];
  std::snprintf(text, sizeof text, "%x", type);
  return JsonString(text);
}

// The file-system name the system shows, or null where it found none.
Json SystemJson(const char* system) {
  std::string text = VolumeText(system);
  return text.empty() || text == "UNKNOWN" ? JsonNull() : JsonString(text);
}

Json PartitionJson(const ReportedPartition& p, const SurveyedPartition& entry,
                   const std::string& mountPoint) {
  const bool found = entry.number != 0;
  return JsonObject({{"node", TextOrNull(entry.node)},
                     {"number", found ? JsonNumber(entry.number) : JsonNull()},
                     {"start", found ? JsonNumber(entry.start) : JsonNull()},
                     {"size", found ? JsonNumber(entry.size) : JsonNull()},
                     {"type", TypeJson(p.type)},
                     {"bootable", found ? JsonBool(entry.bootable) : JsonNull()},
                     {"type_name", TextOrNull(Trimmed(p.typeName))},
                     {"chs_start", Chs(p.startCylinder, p.startHead, p.startSector)},
                     {"chs_end", Chs(p.endCylinder, p.endHead, p.endSector)},
                     {"mb", JsonNumber(p.sizeMb)},
                     {"system", SystemJson(p.system)},
                     {"label", TextOrNull(VolumeText(p.label))},
                     {"mount_point", TextOrNull(mountPoint)}});
}

Json CardJson(const SurveyedCard& card) {
  std::vector<Json> partitions;
  for (int i = 0; card.read && i < card.report.partitionCount; ++i) {
    const SurveyedPartition& entry = card.entries[static_cast<size_t>(i)];
    partitions.push_back(
        PartitionJson(card.report.partitions[i], entry, MountPointOf(card, entry.node)));
  }
  std::vector<Json> mounts;
  for (const host::MountedDevice& mount : card.mounts) {
    mounts.push_back(JsonObject(
        {{"device", JsonString(mount.device)}, {"mount_point", JsonString(mount.mountPoint)}}));
  }
  const CardReport& r = card.report;
  const bool present = card.opened && !card.empty;
  TextSource modelSource = TextSource::kNone, serialSource = TextSource::kNone;
  std::string model = present ? CardModel(card, &modelSource) : std::string();
  std::string serial = present ? CardSerial(card, &serialSource) : std::string();
  const Json unknown = JsonNull();
  return JsonObject(
      {{"path", JsonString(card.path)},
       {"opened", JsonBool(card.opened)},
       {"open_error", TextOrNull(OpenFailureOf(card))},
       {"empty", card.opened ? JsonBool(card.empty) : unknown},
       {"writable", JsonBool(Writable(card))},
       {"read_only", card.opened ? JsonBool(card.readOnly) : unknown},
       {"model", TextOrNull(model)},
       {"model_from", present ? NameOrNull(TextSourceName(modelSource)) : unknown},
       {"serial", TextOrNull(serial)},
       {"serial_from", present ? NameOrNull(TextSourceName(serialSource)) : unknown},
       {"calls_itself", TextOrNull(present ? CallsItself(card) : std::string())},
       {"kernel_removable", card.blockDevice ? JsonBool(card.kernelRemovable) : unknown},
       {"loop_backing_file", TextOrNull(card.loopBackingFile)},
       {"size_bytes", card.opened ? JsonNumber(static_cast<int64_t>(card.bytes)) : unknown},
       {"sectors", card.opened ? JsonNumber(static_cast<int64_t>(card.bytes / 512)) : unknown},
       {"physical",
        card.read ? Geometry(r.physicalCylinders, r.physicalHeads, r.physicalSectors) : unknown},
       {"logical",
        card.read ? Geometry(r.logicalCylinders, r.logicalHeads, r.logicalSectors) : unknown},
       {"geometry_from", card.read ? NameOrNull(GeometrySourceName(card.geometrySource)) : unknown},
       {"partitions", JsonArray(partitions)},
       {"mounts", JsonArray(mounts)},
       {"unread", TextOrNull(card.read || !present ? std::string() : card.refusal)}});
}

uint32_t SectorsWritten(const VolumePlan& volume) {
  uint32_t total = 0;
  for (int i = 0; i < volume.runCount; ++i) total += volume.runs[i].count;
  return total;
}

uint64_t SectorsOf(const std::vector<SectorRunPlan>& runs) {
  uint64_t total = 0;
  for (const SectorRunPlan& run : runs) total += run.count;
  return total;
}

Json RunsJson(const std::vector<SectorRunPlan>& runs) {
  std::vector<Json> list;
  for (const SectorRunPlan& run : runs) {
    list.push_back(
        JsonObject({{"first", JsonNumber(run.first)}, {"count", JsonNumber(run.count)}}));
  }
  return JsonArray(list);
}

std::vector<SectorRunPlan> PlannedRuns(const VolumePlan& volume) {
  return std::vector<SectorRunPlan>(volume.runs, volume.runs + volume.runCount);
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

std::string RunsText(const std::vector<SectorRunPlan>& runs) {
  std::string text;
  for (size_t i = 0; i < runs.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(runs[i].first);
    if (runs[i].count > 1) text += "-" + std::to_string(runs[i].first + runs[i].count - 1);
  }
  return text;
}

std::string PartitionRow(const ReportedPartition& p) {
  char line[128];
  std::snprintf(line, sizeof line, "%-8s %4d %4d %4d %4d %4d %4d %4d          ", p.typeName,
                static_cast<int>(p.startCylinder), static_cast<int>(p.startHead),
                static_cast<int>(p.startSector), static_cast<int>(p.endCylinder),
                static_cast<int>(p.endHead), static_cast<int>(p.endSector),
                static_cast<int>(p.sizeMb));
  // The label right-aligned in its 11 columns, as the screen shows it.
  std::string label = Escaped(FromCodePage437(p.label));
  std::string row = line + std::string(kLabelWidth - std::min(kLabelWidth, Characters(label)), ' ');
  row += label;
  std::string system = Escaped(FromCodePage437(p.system));
  if (row.size() < kSystemColumn + system.size()) row.resize(kSystemColumn + system.size(), ' ');
  row.replace(kSystemColumn, system.size(), system);
  return row;
}

std::string ListingText(const std::vector<SurveyedCard>& cards,
                        const std::vector<std::string>& leftOut) {
  std::string text;
  size_t unopened = 0;
  for (const SurveyedCard& card : cards) {
    text += CardText(card) + "\n";
    unopened += card.opened ? 0 : 1;
  }
  text += std::to_string(cards.size()) + (cards.size() == 1 ? " card" : " cards");
  if (unopened != 0) text += "; " + std::to_string(unopened) + " of them could not be opened";
  if (leftOut.empty()) return text + "; no fixed disk left out\n";
  text += "; " + std::to_string(leftOut.size()) +
          (leftOut.size() == 1 ? " fixed disk left out:" : " fixed disks left out:");
  for (const std::string& path : leftOut) text += " " + Escaped(path);
  return text +
         " (not removable, no loop device, no CompactFlash answer to IDENTIFY DEVICE; "
         "--fixed-disk DEVICE DEVICE lists one)\n";
}

std::string ListingJson(const std::vector<SurveyedCard>& cards,
                        const std::vector<std::string>& leftOut) {
  std::vector<Json> list;
  for (const SurveyedCard& card : cards) list.push_back(CardJson(card));
  std::vector<Json> fixed;
  for (const std::string& path : leftOut) fixed.push_back(JsonString(path));
  return JsonObject({{"cards", JsonArray(list)}, {"fixed_disks_left_out", JsonArray(fixed)}}).text +
         "\n";
}

std::string PlanText(const PlanReport& plan) {
  const ReportedPartition& p = plan.partition;
  const VolumePlan& v = plan.volume;
  long c = 0, h = 0, s = 0;
  PlannedStart(plan, &c, &h, &s);
  std::string text = Escaped(plan.path) + ": the plan of \"1\"\n";
  const std::string serial = Trimmed(plan.card.serialNumber);
  text += Field("Model", Trimmed(plan.card.model) + SourceNote(plan.modelSource));
  text +=
      Field("S/N", serial.empty() ? std::string("none") : serial + SourceNote(plan.serialSource));
  text += GeometryRows(plan.card);
  text += Field("Geometry", GeometrySourceText(plan.geometrySource, plan.geometryOptionSetAside));
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
  text += Field("Writes", RunsText(PlannedRuns(v)) + " (" + std::to_string(SectorsWritten(v)) +
                              " sectors, the MBR last)");
  if (!plan.clears.empty()) {
    text += Field("Clears", RunsText(plan.clears) + " (" + std::to_string(SectorsOf(plan.clears)) +
                                " sectors of an old table or file system outside the new volume, "
                                "zeroed after the MBR)");
  }
  if (!plan.finish.empty()) text += Field("Finish", plan.finish);
  return text;
}

std::string PlanJson(const PlanReport& plan) {
  const ReportedPartition& p = plan.partition;
  const VolumePlan& v = plan.volume;
  long c = 0, h = 0, s = 0;
  PlannedStart(plan, &c, &h, &s);
  const CardReport& r = plan.card;
  Json partition = JsonObject({{"start", JsonNumber(v.startLba)},
                               {"size", JsonNumber(v.totalSectors)},
                               {"type", TypeJson(p.type)},
                               {"type_name", TextOrNull(Trimmed(p.typeName))},
                               {"chs_start", Chs(c, h, s)},
                               {"chs_end", Chs(p.endCylinder, p.endHead, p.endSector)},
                               {"mb", JsonNumber(p.sizeMb)}});
  Json volume = JsonObject({{"type", JsonString(v.fat32 ? "FAT32" : "FAT16")},
                            {"sectors_per_cluster", JsonNumber(v.sectorsPerCluster)},
                            {"reserved_sectors", JsonNumber(v.reservedSectors)},
                            {"fats", JsonNumber(2)},
                            {"fat_sectors", JsonNumber(v.fatSectors)},
                            {"root_entries", JsonNumber(v.rootEntries)},
                            {"clusters", JsonNumber(v.clusters)}});
  const std::string serial = Trimmed(r.serialNumber);
  return JsonObject(
             {{"path", JsonString(plan.path)},
              {"model", TextOrNull(Trimmed(r.model))},
              {"model_from", NameOrNull(TextSourceName(plan.modelSource))},
              {"serial", TextOrNull(serial)},
              {"serial_from",
               serial.empty() ? JsonNull() : NameOrNull(TextSourceName(plan.serialSource))},
              {"physical", Geometry(r.physicalCylinders, r.physicalHeads, r.physicalSectors)},
              {"logical", Geometry(r.logicalCylinders, r.logicalHeads, r.logicalSectors)},
              {"geometry_from", NameOrNull(GeometrySourceName(plan.geometrySource))},
              {"partition", partition},
              {"file_system", volume},
              {"writes", RunsJson(PlannedRuns(v))},
              {"sectors_written", JsonNumber(SectorsWritten(v))},
              {"clears", RunsJson(plan.clears)},
              {"finish", TextOrNull(plan.finish)}})
             .text +
         "\n";
}

std::string WritesText(const WritesReport& writes) {
  return Escaped(writes.path + ": what " + writes.action) + " would write\n" +
         Field("Writes", RunsText(writes.runs) + " (" + std::to_string(SectorsOf(writes.runs)) +
                             " sectors, in this order)");
}

std::string WritesJson(const WritesReport& writes) {
  return JsonObject({{"path", JsonString(writes.path)},
                     {"action", JsonString(writes.action)},
                     {"writes", RunsJson(writes.runs)},
                     {"sectors_written", JsonNumber(static_cast<int64_t>(SectorsOf(writes.runs)))}})
             .text +
         "\n";
}

}  // namespace tool
