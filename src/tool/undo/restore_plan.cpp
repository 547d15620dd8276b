#include "tool/undo/restore_plan.h"

#include <algorithm>
#include <utility>

#include "common/ata_commands.h"

namespace tool {
namespace {

std::string Geometry(uint16_t c, uint16_t h, uint16_t s) {
  return std::to_string(c) + " x " + std::to_string(h) + " x " + std::to_string(s);
}

std::string Text(const std::string& text) {
  return text.empty() ? std::string("none") : "'" + text + "'";
}

}  // namespace

std::string CardDifference(const UndoHeader& header, const RestoreCard& card, bool force) {
  if (card.sectors != header.sectors) {
    return "another card: it has " + std::to_string(card.sectors) +
           " sectors, the undo file's card had " + std::to_string(header.sectors);
  }
  if (card.cylinders != header.cylinders || card.heads != header.heads ||
      card.sectorsPerTrack != header.sectorsPerTrack) {
    return "another card: its geometry is " +
           Geometry(card.cylinders, card.heads, card.sectorsPerTrack) +
           ", the undo file's card's was " +
           Geometry(header.cylinders, header.heads, header.sectorsPerTrack);
  }
  const bool own = !card.serialNumber.empty() && card.serialIsTheCards;
  const bool known = own && header.identityKnown;
  if (!known && !force) {
    const std::string why = card.serialNumber.empty() ? "the card names no serial number"
                            : !own ? "the card's serial number is the machine file's, not its own"
                            : header.serialFromMachineFile
                                ? "the undo file's serial number was the machine file's"
                                : "the undo file names no serial number";
    return "the card's identity is unknown (" + why +
           "), so it cannot be told from another card of its size; give --force to restore it "
           "all the same";
  }
  if (card.serialNumber != header.serialNumber && known) {
    return "another card: its serial number is " + Text(card.serialNumber) +
           ", the undo file's card's was " + Text(header.serialNumber);
  }
  if (card.model != header.model && known) {
    return "another card: its model is " + Text(card.model) + ", the undo file's card's was " +
           Text(header.model);
  }
  return std::string();
}

std::vector<RestoreWrite> RestoreWrites(const UndoContents& contents) {
  static const std::vector<uint8_t> zeros(kAtaMaxSectorCount * kAtaSectorBytes, 0);
  std::vector<RestoreWrite> writes;
  const uint8_t* mbr = nullptr;
  for (auto it = contents.records.rbegin(); it != contents.records.rend(); ++it) {
    uint32_t first = it->first;
    uint32_t count = it->count;
    const uint8_t* data = it->zeros ? zeros.data() : it->data.data();
    if (first == 0) {
      mbr = data;  // the earliest record's MBR, as it is met last
      ++first;
      --count;
      if (!it->zeros) data += kAtaSectorBytes;
    }
    // A record of zeros may be longer than one command takes.
    for (uint32_t at = 0; at < count; at += kAtaMaxSectorCount) {
      const uint32_t part = std::min<uint32_t>(kAtaMaxSectorCount, count - at);
      writes.push_back(
          {first + at, part, it->zeros ? data : data + static_cast<size_t>(at) * kAtaSectorBytes});
    }
  }
  if (mbr != nullptr) writes.push_back({0, 1, mbr});
  return writes;
}

std::string RecordOutsideCard(const UndoContents& contents, const RestoreCard& card) {
  // A sector past what the geometry addresses but on the medium (where a
  // GPT keeps its backup header) is written on the medium itself; one past
  // the medium could not be written at all.
  for (size_t i = 0; i < contents.records.size(); ++i) {
    const UndoRecord& record = contents.records[i];
    const uint64_t end = static_cast<uint64_t>(record.first) + record.count;
    if (end <= card.sectors) continue;
    return "record " + std::to_string(i + 1) + " of the undo file (sectors " +
           std::to_string(record.first) + "-" + std::to_string(end - 1) +
           ") lies past the card's " + std::to_string(card.sectors) + " sectors";
  }
  return std::string();
}

std::string CoveredSectors(const std::vector<UndoRecord>& records, size_t limit) {
  std::vector<std::pair<uint32_t, uint32_t>> ranges;  // first, end
  for (const UndoRecord& record : records)
    ranges.emplace_back(record.first, record.first + record.count);
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<uint32_t, uint32_t>> merged;
  for (const auto& range : ranges) {
    if (!merged.empty() && range.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, range.second);
    } else {
      merged.push_back(range);
    }
  }
  std::string text;
  for (size_t i = 0; i < merged.size(); ++i) {
    if (i == limit) return text + ", ...";
    if (i > 0) text += ", ";
    text += std::to_string(merged[i].first);
    if (merged[i].second - merged[i].first > 1) text += "-" + std::to_string(merged[i].second - 1);
  }
  return text;
}

}  // namespace tool
