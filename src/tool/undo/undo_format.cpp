#include "tool/undo/undo_format.h"

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
constexpr size_t kAtHeaderCrc = 108;

void PutLe64(uint8_t* p, uint64_t value) {
  PutLe32(p, static_cast<uint32_t>(value));
  PutLe32(p + 4, static_cast<uint32_t>(value >> 32));
}

uint64_t GetLe64(const uint8_t* p) {
  return GetLe32(p) | (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}

void PutText(uint8_t* p, size_t chars, const std::string& text) {
  for (size_t i = 0; i < chars; ++i) p[i] = i < text.size() ? text[i] : ' ';
}

std::string GetText(const uint8_t* p, size_t chars) {
  std::string text(reinterpret_cast<const char*>(p), chars);
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

struct CrcTable {
  uint32_t entries[256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[i] = c;
    }
  }
};

void AppendCrc(std::vector<uint8_t>* bytes) {
  uint32_t crc = Crc32(bytes->data(), bytes->size());
  bytes->resize(bytes->size() + kUndoCrcBytes);
  PutLe32(bytes->data() + bytes->size() - kUndoCrcBytes, crc);
}

bool CrcHolds(const uint8_t* record, size_t lengthBeforeCrc) {
  return Crc32(record, lengthBeforeCrc) == GetLe32(record + lengthBeforeCrc);
}

bool ParseHeader(const std::vector<uint8_t>& bytes, UndoHeader* header, std::string* why) {
  if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    *why = "not an undo file (it does not begin with DUNMUNDO)";
    return false;
  }
  if (bytes.size() < kUndoHeaderBytes) {
    *why = "the undo file's header is cut short";
    return false;
  }
  const uint8_t* p = bytes.data();
  if (!CrcHolds(p, kAtHeaderCrc)) {
    *why = "the undo file's header is damaged (its CRC-32 does not match)";
    return false;
  }
  uint32_t version = GetLe32(p + kAtVersion);
  if (version != kUndoVersion || GetLe32(p + kAtHeaderBytes) != kUndoHeaderBytes) {
    *why = "the undo file is of version " + std::to_string(version) + ", which this dunmore " +
           "does not read (it reads version " + std::to_string(kUndoVersion) + ")";
    return false;
  }
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
  return true;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length, uint32_t crc) {
  static const CrcTable table;
  crc = ~crc;
  for (size_t i = 0; i < length; ++i) crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<uint8_t> EncodeUndoHeader(const UndoHeader& header) {
  std::vector<uint8_t> bytes(kAtHeaderCrc, 0);
  uint8_t* p = bytes.data();
  std::memcpy(p, kMagic, sizeof kMagic);
  PutLe32(p + kAtVersion, kUndoVersion);
  PutLe32(p + kAtHeaderBytes, kUndoHeaderBytes);
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

std::vector<uint8_t> EncodeClosingRecord(uint32_t records, uint32_t sectors) {
  std::vector<uint8_t> bytes(kUndoRecordHeadBytes);
  PutLe32(bytes.data(), kUndoRecordClosing);
  PutLe32(bytes.data() + 4, records);
  PutLe32(bytes.data() + 8, sectors);
  AppendCrc(&bytes);
  return bytes;
}

bool ParseUndoFile(const std::vector<uint8_t>& bytes, UndoContents* out, std::string* why) {
  *out = UndoContents();
  if (!ParseHeader(bytes, &out->header, why)) return false;
  size_t at = kUndoHeaderBytes;
  uint64_t sectors = 0;
  while (at < bytes.size()) {
    const size_t left = bytes.size() - at;
    const uint8_t* p = bytes.data() + at;
    const std::string where =
        "record " + std::to_string(out->records.size() + 1) + " (byte " + std::to_string(at) + ")";
    if (left < kUndoRecordHeadBytes + kUndoCrcBytes) {
      out->unfinishedBytes = left;
      return true;
    }
    const uint32_t kind = GetLe32(p);
    if (kind == kUndoRecordClosing) {
      if (!CrcHolds(p, kUndoRecordHeadBytes)) {
        *why = "the undo file's closing " + where + " is damaged (its CRC-32 does not match)";
        return false;
      }
      if (GetLe32(p + 4) != out->records.size() || GetLe32(p + 8) != sectors) {
        *why = "the undo file's closing record counts other records than the file holds";
        return false;
      }
      if (left != kUndoRecordHeadBytes + kUndoCrcBytes) {
        *why = "the undo file goes on after its closing record";
        return false;
      }
      out->closed = true;
      return true;
    }
    const uint32_t count = GetLe32(p + 8);
    const size_t length = kUndoRecordHeadBytes + static_cast<size_t>(count) * kAtaSectorBytes;
    const bool plausible = kind == kUndoRecordSectors && count >= 1 && count <= kAtaMaxSectorCount;
    if (plausible && left < length + kUndoCrcBytes) {
      out->unfinishedBytes = left;
      return true;
    }
    if (!plausible || !CrcHolds(p, length)) {
      // The record being added when the run was cut may have reached the
      // disk in part; nothing of its command reached the card.
      if (plausible && left == length + kUndoCrcBytes) {
        out->unfinishedBytes = left;
        return true;
      }
      *why = "the undo file's " + where + " is damaged (" +
             (plausible ? "its CRC-32 does not match" : "it is no record") + ")";
      return false;
    }
    UndoRecord record;
    record.first = GetLe32(p + 4);
    record.count = count;
    record.data.assign(p + kUndoRecordHeadBytes, p + length);
    if (record.first + static_cast<uint64_t>(count) > out->header.sectors) {
      *why = "the undo file's " + where + " lies past the end of its card";
      return false;
    }
    sectors += count;
    out->records.push_back(std::move(record));
    at += length + kUndoCrcBytes;
  }
  return true;
}

}  // namespace tool
