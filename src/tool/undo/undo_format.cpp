#include "tool/undo/undo_format.h"

#include <time.h>
#include <zlib.h>

#include <cstring>

#include "common/ata_commands.h"
#include "common/little_endian.h"

namespace tool {
namespace {

constexpr char kMagic[8] = {'D', 'U', 'N', 'M', 'U', 'N', 'D', 'O'};
constexpr uint16_t kIdentityKnown = 0x0001;
constexpr uint16_t kSerialFromMachineFile = 0x0002;

// Where the header keeps each field.
constexpr size_t kAtVersion = 8;
constexpr size_t kAtHeaderBytes = 12;
constexpr size_t kAtSectors = 16;
constexpr size_t kAtCylinders = 24;
constexpr size_t kAtHeads = 26;
constexpr size_t kAtSectorsPerTrack = 28;
constexpr size_t kAtFlags = 30;
constexpr size_t kAtTime = 32;
constexpr size_t kAtModel = 40;
constexpr size_t kModelChars = 40;
constexpr size_t kAtSerialNumber = 80;
constexpr size_t kSerialNumberChars = 20;
constexpr size_t kAtFirmwareRevision = 100;
constexpr size_t kFirmwareRevisionChars = 8;
constexpr size_t kAtFileBytes = 108;
constexpr size_t kAtHeader1Crc = 108;
constexpr size_t kAtHeaderCrc = 124;

void PutText(uint8_t* p, size_t chars, const std::string& text) {
  for (size_t i = 0; i < chars; ++i) p[i] = i < text.size() ? text[i] : ' ';
}

std::string GetText(const uint8_t* p, size_t chars) {
  std::string text(reinterpret_cast<const char*>(p), chars);
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

void AppendCrc(std::vector<uint8_t>* bytes) {
  uint32_t crc = Crc32(bytes->data(), bytes->size());
  bytes->resize(bytes->size() + kUndoCrcBytes);
  PutLe32(bytes->data() + bytes->size() - kUndoCrcBytes, crc);
}

bool CrcHolds(const uint8_t* record, size_t lengthBeforeCrc) {
  return Crc32(record, lengthBeforeCrc) == GetLe32(record + lengthBeforeCrc);
}

// The CRC-32 a sector record of count sectors would have, its count field
// read as count: where the record's stated count is not the one it was
// written with, this finds the one that was.
uint32_t CrcWithCount(const uint8_t* record, uint32_t count, uint32_t dataCrc) {
  uint8_t head[kUndoRecordHeadBytes];
  std::memcpy(head, record, 8);
  PutLe32(head + 8, count);
  uint32_t headCrc = Crc32(head, sizeof head);
  return static_cast<uint32_t>(
      crc32_combine(headCrc, dataCrc, static_cast<z_off_t>(count) * kAtaSectorBytes));
}

// Another count from 1 to 255 at which the sector record at p, of which left
// bytes are there, would be whole; 0 when there is none.
uint32_t CountThatHolds(const uint8_t* p, size_t left, uint32_t stated) {
  uint32_t dataCrc = 0;
  for (uint32_t count = 1; count <= kAtaMaxSectorCount; ++count) {
    const size_t length = kUndoRecordHeadBytes + static_cast<size_t>(count) * kAtaSectorBytes;
    if (length + kUndoCrcBytes > left) break;
    dataCrc = Crc32(p + length - kAtaSectorBytes, kAtaSectorBytes, dataCrc);
    if (count != stated && CrcWithCount(p, count, dataCrc) == GetLe32(p + length)) return count;
  }
  return 0;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc) {
  return static_cast<uint32_t>(crc32_z(crc, data, length));
}

uint64_t UndoContents::Sectors() const {
  uint64_t sectors = 0;
  for (const UndoRecord& record : records) sectors += record.count;
  return sectors;
}

std::vector<uint8_t> EncodeUndoHeader(const UndoHeader& header) {
  const bool first = header.version == kUndoVersion1;
  std::vector<uint8_t> bytes(first ? kAtHeader1Crc : kAtHeaderCrc, 0);
  uint8_t* p = bytes.data();
  std::memcpy(p, kMagic, sizeof kMagic);
  PutLe32(p + kAtVersion, header.version);
  PutLe32(p + kAtHeaderBytes, header.Bytes());
  PutLe64(p + kAtSectors, header.sectors);
  PutLe16(p + kAtCylinders, header.cylinders);
  PutLe16(p + kAtHeads, header.heads);
  PutLe16(p + kAtSectorsPerTrack, header.sectorsPerTrack);
  PutLe16(p + kAtFlags,
          static_cast<uint16_t>((header.identityKnown ? kIdentityKnown : 0) |
                                (header.serialFromMachineFile ? kSerialFromMachineFile : 0)));
  PutLe64(p + kAtTime, static_cast<uint64_t>(header.time));
  PutText(p + kAtModel, kModelChars, header.model);
  PutText(p + kAtSerialNumber, kSerialNumberChars, header.serialNumber);
  PutText(p + kAtFirmwareRevision, kFirmwareRevisionChars, header.firmwareRevision);
  if (!first) PutLe64(p + kAtFileBytes, header.fileBytes);
  AppendCrc(&bytes);
  return bytes;
}

std::vector<uint8_t> EncodeUndoRecord(uint32_t first, uint32_t count, const uint8_t* data) {
  const size_t dataBytes = static_cast<size_t>(count) * kAtaSectorBytes;
  std::vector<uint8_t> bytes(kUndoRecordHeadBytes + dataBytes);
  PutLe32(bytes.data(), kUndoRecordSectors);
  PutLe32(bytes.data() + 4, first);
  PutLe32(bytes.data() + 8, count);
  std::memcpy(bytes.data() + kUndoRecordHeadBytes, data, dataBytes);
  AppendCrc(&bytes);
  return bytes;
}

std::vector<uint8_t> EncodeZeroRecord(uint32_t first, uint32_t count) {
  std::vector<uint8_t> bytes(kUndoRecordHeadBytes);
  PutLe32(bytes.data(), kUndoRecordZeros);
  PutLe32(bytes.data() + 4, first);
  PutLe32(bytes.data() + 8, count);
  AppendCrc(&bytes);
  return bytes;
}

std::vector<uint8_t> EncodeClosingRecord(uint32_t records, uint32_t sectors) {
  std::vector<uint8_t> bytes(kUndoRecordHeadBytes);
  PutLe32(bytes.data(), kUndoRecordClosing);
  PutLe32(bytes.data() + 4, records);
  PutLe32(bytes.data() + 8, sectors);
  AppendCrc(&bytes);
  return bytes;
}

UndoFileLayout LayOutUndoFile(UndoHeader header, const std::vector<KeptRun>& runs,
                              const std::function<const uint8_t*(const uint8_t* end)>& ready,
                              const std::function<bool(const LaidOutRecord& record)>& take) {
  static const uint8_t kZeros[kAtaSectorBytes] = {};
  UndoFileLayout layout;
  uint64_t at = kUndoHeaderBytes;  // where the next record goes
  for (const KeptRun& run : runs) {
    const uint8_t* here = run.data;  // what is there up to here
    auto sector = [&](uint32_t i) -> const uint8_t* {
      const uint8_t* in = run.data + static_cast<size_t>(i) * kAtaSectorBytes;
      if (ready && in + kAtaSectorBytes > here) here = ready(in + kAtaSectorBytes);
      return in + kAtaSectorBytes <= here || !ready ? in : nullptr;
    };
    uint32_t from = 0;
    while (from < run.count) {
      const uint8_t* first = sector(from);
      if (first == nullptr) return UndoFileLayout();
      const bool zeros = std::memcmp(first, kZeros, kAtaSectorBytes) == 0;
      uint32_t end = from + 1;
      for (; end < run.count && (zeros || end - from < kAtaMaxSectorCount); ++end) {
        const uint8_t* next = sector(end);
        if (next == nullptr) return UndoFileLayout();
        if ((std::memcmp(next, kZeros, kAtaSectorBytes) == 0) != zeros) break;
      }
      LaidOutRecord record;
      record.at = at;
      PutLe32(record.head, zeros ? kUndoRecordZeros : kUndoRecordSectors);
      PutLe32(record.head + 4, run.first + from);
      PutLe32(record.head + 8, end - from);
      uint32_t crc = Crc32(record.head, sizeof record.head);
      if (!zeros) {
        record.data = first;
        record.dataBytes = static_cast<size_t>(end - from) * kAtaSectorBytes;
        crc = Crc32(first, record.dataBytes, crc);
      }
      PutLe32(record.crc, crc);
      if (!take(record)) return UndoFileLayout();
      at += kUndoShortRecordBytes + record.dataBytes;
      ++layout.records;
      layout.sectors += end - from;
      from = end;
    }
  }
  header.version = kUndoVersion;
  header.fileBytes = at + kUndoShortRecordBytes;
  layout.header = header;
  layout.complete = true;
  return layout;
}

std::vector<uint8_t> EncodeUndoFile(UndoHeader header, const std::vector<KeptRun>& runs,
                                    uint32_t* records, uint32_t* sectors) {
  std::vector<uint8_t> file(kUndoHeaderBytes);
  const UndoFileLayout layout =
      LayOutUndoFile(header, runs, nullptr, [&](const LaidOutRecord& record) {
        file.insert(file.end(), record.head, record.head + sizeof record.head);
        file.insert(file.end(), record.data, record.data + record.dataBytes);
        file.insert(file.end(), record.crc, record.crc + sizeof record.crc);
        return true;
      });
  const std::vector<uint8_t> head = EncodeUndoHeader(layout.header);
  std::memcpy(file.data(), head.data(), head.size());
  const std::vector<uint8_t> closing = EncodeClosingRecord(layout.records, layout.sectors);
  file.insert(file.end(), closing.begin(), closing.end());
  *records = layout.records;
  *sectors = layout.sectors;
  return file;
}

std::string UndoTimeText(int64_t seconds) {
  time_t at = static_cast<time_t>(seconds);
  struct tm utc = {};
  gmtime_r(&at, &utc);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

bool ParseUndoHeader(const uint8_t* p, size_t length, UndoHeader* header, std::string* why) {
  if (length < sizeof kMagic || std::memcmp(p, kMagic, sizeof kMagic) != 0) {
    *why = "not an undo file (it does not begin with DUNMUNDO)";
    return false;
  }
  if (length < kAtHeaderBytes + 4) {
    *why = "the undo file's header is cut short";
    return false;
  }
  const uint32_t version = GetLe32(p + kAtVersion);
  const uint32_t headerBytes = GetLe32(p + kAtHeaderBytes);
  const bool known = (version == kUndoVersion1 && headerBytes == kUndoHeader1Bytes) ||
                     (version == kUndoVersion && headerBytes == kUndoHeaderBytes);
  if (known && length < headerBytes) {
    *why = "the undo file's header is cut short";
    return false;
  }
  if (known && !CrcHolds(p, headerBytes - kUndoCrcBytes)) {
    *why = "the undo file's header is damaged (its CRC-32 does not match)";
    return false;
  }
  if (!known) {
    *why = "the undo file is of version " + std::to_string(version) + ", which this dunmore " +
           "does not read (it reads versions " + std::to_string(kUndoVersion1) + " and " +
           std::to_string(kUndoVersion) + ")";
    return false;
  }
  header->version = version;
  header->sectors = GetLe64(p + kAtSectors);
  header->cylinders = GetLe16(p + kAtCylinders);
  header->heads = GetLe16(p + kAtHeads);
  header->sectorsPerTrack = GetLe16(p + kAtSectorsPerTrack);
  header->identityKnown = (GetLe16(p + kAtFlags) & kIdentityKnown) != 0;
  header->serialFromMachineFile = (GetLe16(p + kAtFlags) & kSerialFromMachineFile) != 0;
  header->time = static_cast<int64_t>(GetLe64(p + kAtTime));
  header->model = GetText(p + kAtModel, kModelChars);
  header->serialNumber = GetText(p + kAtSerialNumber, kSerialNumberChars);
  header->firmwareRevision = GetText(p + kAtFirmwareRevision, kFirmwareRevisionChars);
  header->fileBytes = version == kUndoVersion1 ? 0 : GetLe64(p + kAtFileBytes);
  return true;
}

bool ParseUndoFile(const std::vector<uint8_t>& bytes, UndoContents* out, std::string* why) {
  *out = UndoContents();
  if (!ParseUndoHeader(bytes.data(), bytes.size(), &out->header, why)) return false;
  const UndoHeader& header = out->header;
  if (header.fileBytes != 0 && bytes.size() > header.fileBytes) {
    *why = "the undo file is longer (" + std::to_string(bytes.size()) + " bytes) than its " +
           "header says (" + std::to_string(header.fileBytes) + ")";
    return false;
  }
  size_t at = header.Bytes();
  uint64_t sectors = 0;
  // The bytes from at on make no whole record: the end of a file cut short
  // while they were being added, or else damage.
  auto unfinished = [&](size_t left) {
    out->unfinishedBytes = left;
    return true;
  };
  while (at < bytes.size()) {
    const size_t left = bytes.size() - at;
    const uint8_t* p = bytes.data() + at;
    const std::string where =
        "record " + std::to_string(out->records.size() + 1) + " (byte " + std::to_string(at) + ")";
    auto damaged = [&](const std::string& what) {
      *why = "the undo file's " + where + " is damaged (" + what + ")";
      return false;
    };
    if (left < kUndoShortRecordBytes) return unfinished(left);
    const uint32_t kind = GetLe32(p);
    if (kind == kUndoRecordClosing) {
      if (!CrcHolds(p, kUndoRecordHeadBytes)) return damaged("its CRC-32 does not match");
      if (GetLe32(p + 4) != out->records.size() || GetLe32(p + 8) != sectors) {
        *why = "the undo file's closing record counts other records than the file holds";
        return false;
      }
      if (left != kUndoShortRecordBytes) {
        *why = "the undo file goes on after its closing record";
        return false;
      }
      out->closed = true;
      return true;
    }
    UndoRecord record;
    record.first = GetLe32(p + 4);
    record.count = GetLe32(p + 8);
    size_t length = 0;  // before the CRC
    if (kind == kUndoRecordZeros && header.version != kUndoVersion1) {
      length = kUndoRecordHeadBytes;
      if (!CrcHolds(p, length)) {
        // The last bytes of a file cut short as they were being written.
        if (left == kUndoShortRecordBytes) return unfinished(left);
        return damaged("its CRC-32 does not match");
      }
      if (record.count == 0) return damaged("it counts no sectors");
      record.zeros = true;
    } else if (kind == kUndoRecordSectors) {
      const bool plausible = record.count >= 1 && record.count <= kAtaMaxSectorCount;
      length = kUndoRecordHeadBytes + static_cast<size_t>(record.count) * kAtaSectorBytes;
      if (!plausible || left < length + kUndoCrcBytes || !CrcHolds(p, length)) {
        // The count is trusted only with the CRC-32: a record that is whole
        // at another count was damaged in its count.
        const uint32_t holds = CountThatHolds(p, left, record.count);
        if (holds != 0) {
          return damaged("it says " + std::to_string(record.count) + " sectors, and its CRC-32 " +
                         "holds for " + std::to_string(holds));
        }
        // Else the record being added when the run was cut, of which the
        // file holds a part: nothing of it had reached the card.
        if (plausible && left <= length + kUndoCrcBytes) return unfinished(left);
        return damaged(plausible ? "its CRC-32 does not match" : "it is no record");
      }
      record.data.assign(p + kUndoRecordHeadBytes, p + length);
    } else {
      return damaged("it is no record");
    }
    if (record.first + static_cast<uint64_t>(record.count) > header.sectors) {
      *why = "the undo file's " + where + " lies past the end of its card";
      return false;
    }
    sectors += record.count;
    out->records.push_back(std::move(record));
    at += length + kUndoCrcBytes;
  }
  return true;
}

}  // namespace tool
