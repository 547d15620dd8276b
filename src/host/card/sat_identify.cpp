#include "host/card/sat_identify.h"

#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "sim/identify_layout.h"

namespace host {
namespace {

// ATA PASS-THROUGH (16), as the SCSI/ATA translation defines it.
constexpr uint8_t kPassThrough16Opcode = 0x85;
// Byte 1: MULTIPLE_COUNT in bits 7-5, PROTOCOL in bits 4-1, EXTEND in bit 0.
constexpr int kProtocolByte = 1;
constexpr int kProtocolShift = 1;
constexpr uint8_t kProtocolPioDataIn = 4;  // the card sends its block by PIO
// Byte 2: OFF_LINE in bits 7-6, CK_COND in bit 5, T_TYPE in bit 4, T_DIR in
// bit 3, BYT_BLOK in bit 2, T_LENGTH in bits 1-0.
constexpr int kTransferByte = 2;
constexpr uint8_t kTransferFromDevice = 0x08;        // T_DIR: data flows to the host
constexpr uint8_t kLengthInBlocks = 0x04;            // BYT_BLOK: counted in 512-byte blocks
constexpr uint8_t kLengthInSectorCountField = 0x02;  // T_LENGTH 2: the SECTOR_COUNT field
// Bytes 3-12 are the ATA registers in pairs, the high (extended) byte first;
// the low byte of the sector count is byte 6. Byte 13 is the DEVICE
// register, byte 14 the COMMAND register, byte 15 CONTROL.
constexpr int kSectorCountByte = 6;
constexpr int kCommandByte = 14;

// How long a reader may take to answer, in milliseconds: a card that wakes
// from standby spins nothing up, but some bridges are slow to pass a command.
constexpr unsigned kIdentifyTimeoutMs = 10000;

// SCSI status bytes and the sense data that comes with CHECK CONDITION.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint16_t kDriverSense = 0x08;  // the driver's "sense data returned" note
constexpr uint8_t kResponseCodeMask = 0x7F;
constexpr uint8_t kFixedCurrent = 0x70;
constexpr uint8_t kFixedDeferred = 0x71;
constexpr uint8_t kDescriptorCurrent = 0x72;
constexpr uint8_t kDescriptorDeferred = 0x73;
constexpr uint8_t kSenseKeyMask = 0x0F;
constexpr int kFixedSenseKeyByte = 2;
constexpr int kFixedAscByte = 12;
constexpr int kFixedAscqByte = 13;
constexpr int kFixedAtaStatusByte = 4;  // INFORMATION byte 1 under the translation
constexpr int kDescriptorSenseKeyByte = 1;
constexpr int kDescriptorAscByte = 2;
constexpr int kDescriptorAscqByte = 3;
constexpr int kDescriptorAdditionalLengthByte = 7;
constexpr int kFirstDescriptorByte = 8;
constexpr uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr int kAtaStatusReturnStatusByte = 13;
constexpr uint8_t kSenseKeyRecoveredError = 0x01;
// ASC 00h, ASCQ 1Dh: ATA PASS THROUGH INFORMATION AVAILABLE.
constexpr uint8_t kAscNoAdditionalSense = 0x00;
constexpr uint8_t kAscqPassThroughInformation = 0x1D;
// The ATA status register: ERR (bit 0) and DF, device fault (bit 5).
constexpr uint8_t kAtaStatusError = 0x01;
constexpr uint8_t kAtaStatusDeviceFault = 0x20;

uint16_t Word(const uint8_t* block, int word) {
  return GetLe16(block + 2 * word);
}

// ATA text, two characters a word with the first in the high byte; NUL
// padding counts as blanks, other control bytes are shown as '?'.
std::string AtaText(const uint8_t* block, int word, int chars) {
  const uint8_t* field = block + 2 * word;
  std::string text;
  for (int i = 0; i < chars; ++i) {
    uint8_t c = field[i ^ 1];
    if (c == 0) c = ' ';
    text += (c < 0x20 || c >= 0x7F) ? '?' : static_cast<char>(c);
  }
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

std::string DescribeSense(const uint8_t* sense, int length) {
  if (length < 4) return "CHECK CONDITION without sense data";
  uint8_t code = sense[0] & kResponseCodeMask;
  bool descriptor = code == kDescriptorCurrent || code == kDescriptorDeferred;
  if (!descriptor && length <= kFixedAscqByte) return "CHECK CONDITION with short sense data";
  uint8_t key = sense[descriptor ? kDescriptorSenseKeyByte : kFixedSenseKeyByte] & kSenseKeyMask;
  uint8_t asc = sense[descriptor ? kDescriptorAscByte : kFixedAscByte];
  uint8_t ascq = sense[descriptor ? kDescriptorAscqByte : kFixedAscqByte];
  return "sense key " + Hex(key) + "h, ASC/ASCQ " + Hex(asc) + "h/" + Hex(ascq) + "h";
}

}  // namespace

void BuildIdentifyCommand(uint8_t command[kPassThrough16Length]) {
  std::memset(command, 0, kPassThrough16Length);
  command[0] = kPassThrough16Opcode;
  command[kProtocolByte] = static_cast<uint8_t>(kProtocolPioDataIn << kProtocolShift);
  command[kTransferByte] = kTransferFromDevice | kLengthInBlocks | kLengthInSectorCountField;
  command[kSectorCountByte] = 1;  // one block of 512 bytes
  command[kCommandByte] = kAtaIdentifyDevice;
#ifdef DUNMORE_BROKEN_IDENTIFY_COMMAND
  // A build for the emulated-PC stage's check of itself alone: the
  // protocol says no data comes back, a slip the stage's IDE card scenario
  // must catch.
  constexpr uint8_t kProtocolNonData = 3;
  command[kProtocolByte] = static_cast<uint8_t>(kProtocolNonData << kProtocolShift);
#endif
}

bool SenseReportsCompletion(const uint8_t* sense, int length) {
  if (length < 4) return false;
  uint8_t code = sense[0] & kResponseCodeMask;
  uint8_t key, asc, ascq;
  int ataStatus = -1;
  if (code == kFixedCurrent || code == kFixedDeferred) {
    if (length <= kFixedAscqByte) return false;
    key = sense[kFixedSenseKeyByte] & kSenseKeyMask;
    asc = sense[kFixedAscByte];
    ascq = sense[kFixedAscqByte];
    ataStatus = sense[kFixedAtaStatusByte];
  } else if (code == kDescriptorCurrent || code == kDescriptorDeferred) {
    key = sense[kDescriptorSenseKeyByte] & kSenseKeyMask;
    asc = sense[kDescriptorAscByte];
    ascq = sense[kDescriptorAscqByte];
    int end = length;
    if (length > kDescriptorAdditionalLengthByte) {
      int stated = kFirstDescriptorByte + sense[kDescriptorAdditionalLengthByte];
      if (stated < end) end = stated;
    }
    // Each descriptor: its type, the length of the rest, the rest.
    for (int at = kFirstDescriptorByte; at + 1 < end; at += 2 + sense[at + 1]) {
      if (sense[at] == kAtaStatusReturnDescriptor && at + kAtaStatusReturnStatusByte < end) {
        ataStatus = sense[at + kAtaStatusReturnStatusByte];
      }
    }
  } else {
    return false;
  }
  if (key != kSenseKeyRecoveredError || asc != kAscNoAdditionalSense ||
      ascq != kAscqPassThroughInformation) {
    return false;
  }
  return ataStatus < 0 || (ataStatus & (kAtaStatusError | kAtaStatusDeviceFault)) == 0;
}

void DecodeIdentify(const uint8_t block[kIdentifyBlockBytes], sim::CardIdentity* identity) {
  identity->cylinders = Word(block, kWordCylinders);
  identity->heads = Word(block, kWordHeads);
  identity->sectorsPerTrack = Word(block, kWordSectorsPerTrack);
  identity->serialNumber = AtaText(block, kWordSerialNumber, kSerialNumberChars);
  identity->firmwareRevision = AtaText(block, kWordFirmwareRevision, kFirmwareRevisionChars);
  identity->model = AtaText(block, kWordModel, kModelChars);
  identity->generalConfig = Word(block, kWordGeneralConfig);
  uint16_t commandSets = Word(block, kWordCommandSetsSupported);
  identity->compactFlash = Word(block, kWordGeneralConfig) == kCompactFlashSignature ||
                           ((commandSets & kCommandSetsValidMask) == kCommandSetsValid &&
                            (commandSets & kCfaFeatureSet) != 0);
}

int KernelSgIo(int fd, sg_io_hdr_t* request) {
  return ioctl(fd, SG_IO, request);
}

bool AskCardIdentity(int fd, sim::CardIdentity* identity, std::string* why, SgIoRequest request) {
  uint8_t command[kPassThrough16Length];
  uint8_t block[kIdentifyBlockBytes] = {};
  uint8_t sense[kSenseBufferBytes] = {};
  BuildIdentifyCommand(command);

  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  header.dxfer_direction = SG_DXFER_FROM_DEV;
  header.cmd_len = kPassThrough16Length;
  header.mx_sb_len = kSenseBufferBytes;
  header.dxfer_len = kIdentifyBlockBytes;
  header.dxferp = block;
  header.cmdp = command;
  header.sbp = sense;
  header.timeout = kIdentifyTimeoutMs;

  errno = 0;
  if (request(fd, &header) != 0) {
    *why = std::string("SG_IO refused: ") + std::strerror(errno);
    return false;
  }
  if (header.host_status != 0 || (header.driver_status & ~kDriverSense) != 0) {
    *why = "the reader reported host status " + Hex(header.host_status) + "h, driver status " +
           Hex(header.driver_status) + "h";
    return false;
  }
  if (header.status == kStatusCheckCondition) {
    int length = header.sb_len_wr < kSenseBufferBytes ? header.sb_len_wr : kSenseBufferBytes;
    if (!SenseReportsCompletion(sense, length)) {
      *why = "the reader answered " + DescribeSense(sense, length);
      return false;
    }
  } else if (header.status != kStatusGood) {
    *why = "the reader answered SCSI status " + Hex(header.status) + "h";
    return false;
  }
  if (header.resid != 0) {
    *why = "the reader returned " + std::to_string(kIdentifyBlockBytes - header.resid) +
           " of the 512 bytes";
    return false;
  }
  DecodeIdentify(block, identity);
  if (identity->cylinders == 0 || identity->heads == 0 || identity->sectorsPerTrack == 0) {
    *why = "the answer gives no geometry (words 1, 3, 6: " + std::to_string(identity->cylinders) +
           ", " + std::to_string(identity->heads) + ", " +
           std::to_string(identity->sectorsPerTrack) + ")";
    return false;
  }
  return true;
}

}  // namespace host
