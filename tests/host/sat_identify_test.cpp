// IDENTIFY DEVICE through a card reader's SCSI/ATA translation: the command
// block sent with SG_IO and what is made of the answers readers give, through
// a stand-in for the ioctl.
#include "host/card/sat_identify.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "sim/ata_card.h"

namespace {

// An identify block laid out by hand, word by word.
struct Block {
  uint8_t bytes[512] = {};
  void Word(int word, uint16_t value) { PutLe16(bytes + 2 * word, value); }
  // ATA text: the first character of each pair in the word's high byte.
  void Text(int word, int chars, const std::string& text, char pad) {
    for (int i = 0; i < chars; ++i) {
      char c = i < static_cast<int>(text.size()) ? text[i] : pad;
      bytes[2 * word + (i ^ 1)] = static_cast<uint8_t>(c);
    }
  }
};

// A CompactFlash card: signature 848Ah in word 0, the capacity in words 7-8
// (high word first), texts blank-padded, its serial number right-justified.
Block CompactFlashBlock() {
  Block b;
  b.Word(0, 0x848A);
  b.Word(1, 980);
  b.Word(3, 16);
  b.Word(6, 63);
  b.Word(7, 0x000F);
  b.Word(8, 0x1CC0);
  b.Text(10, 20, "          X2107-0042", ' ');
  b.Text(23, 8, "Rev 1.3", ' ');
  b.Text(27, 40, "HERON COMPACTFLASH 512MB", ' ');
  b.Word(49, 0x0200);
  return b;
}

// An ATA disk layout, written word by word as CompactFlashBlock above on
// purpose so that the two kinds read side by side: word 0 with bit 15 clear,
// LBA capacity in words 60-61, texts padded with NULs as some cards do.
Block AtaBlock() {
  Block b;
  b.Word(0, 0x045A);
  b.Word(1, 16383);
  b.Word(3, 16);
  b.Word(6, 63);
  b.Text(10, 20, "SN0001", '\0');
  b.Text(23, 8, "FW01", '\0');
  b.Text(27, 40, "PLOVER 8GB ATA", '\0');
  b.Word(60, 0x4000);
  b.Word(61, 0x00F4);
  return b;
}

// What the stand-in reader does with the next request, and what it saw.
struct Reader {
  int result = 0;
  int error = 0;
  uint8_t status = 0;
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  int resid = 0;
  std::vector<uint8_t> sense;
  Block block;
  // What was sent.
  std::vector<uint8_t> command;
  sg_io_hdr_t seen = {};

  // CHECK CONDITION with sense data: how a reader ends an ATA command that
  // failed or that returned its registers.
  void CheckCondition(const std::vector<uint8_t>& senseData) {
    status = 0x02;
    driverStatus = 0x08;
    sense = senseData;
  }
};
Reader reader;

int StandInSgIo(int, sg_io_hdr_t* request) {
  reader.seen = *request;
  reader.command.assign(request->cmdp, request->cmdp + request->cmd_len);
  if (reader.result != 0) {
    errno = reader.error;
    return reader.result;
  }
  std::memcpy(request->dxferp, reader.block.bytes, request->dxfer_len);
  request->status = reader.status;
  request->masked_status = static_cast<uint8_t>(reader.status >> 1);
  request->host_status = reader.hostStatus;
  request->driver_status = reader.driverStatus;
  request->resid = reader.resid;
  size_t length = std::min<size_t>(reader.sense.size(), request->mx_sb_len);
  if (length != 0) std::memcpy(request->sbp, reader.sense.data(), length);
  request->sb_len_wr = static_cast<uint8_t>(length);
  return 0;
}

bool Ask(sim::CardIdentity* identity, std::string* why) {
  return host::AskCardIdentity(-1, identity, why, StandInSgIo);
}

TEST(SatIdentify, CommandBlockIsAtaPassThrough16ForIdentifyDevice) {
  reader = Reader();
  reader.block = CompactFlashBlock();
  sim::CardIdentity identity;
  std::string why;
  ASSERT_TRUE(Ask(&identity, &why)) << why;
  // Opcode 85h; PIO data-in (4) in bits 4-1; T_DIR from the device,
  // BYT_BLOK, T_LENGTH in SECTOR_COUNT; one sector; command ECh.
  const std::vector<uint8_t> expected = {0x85, 0x08, 0x0E, 0, 0, 0, 1,    0,
                                         0,    0,    0,    0, 0, 0, 0xEC, 0};
  EXPECT_EQ(expected, reader.command);
  EXPECT_EQ('S', reader.seen.interface_id);
  EXPECT_EQ(SG_DXFER_FROM_DEV, reader.seen.dxfer_direction);
  EXPECT_EQ(512u, reader.seen.dxfer_len);
  EXPECT_GE(reader.seen.mx_sb_len, 18);  // room for fixed-format sense data
  EXPECT_GT(reader.seen.timeout, 0u);
}

TEST(SatIdentify, CompactFlashAndAtaLayoutsGiveGeometryAndTexts) {
  struct Case {
    const char* name;
    Block block;
    uint16_t c, h, s;
    const char *model, *serial, *firmware;
    bool compactFlash;
  } cases[] = {
      {"CompactFlash", CompactFlashBlock(), 980, 16, 63, "HERON COMPACTFLASH 512MB", "X2107-0042",
       "Rev 1.3", true},
      {"ATA, NUL padded", AtaBlock(), 16383, 16, 63, "PLOVER 8GB ATA", "SN0001", "FW01", false},
      {"CompactFlash in True IDE mode: the CFA feature set of word 83",
       [] {
         Block b = AtaBlock();
         b.Word(83, 0x4004);
         return b;
       }(),
       16383, 16, 63, "PLOVER 8GB ATA", "SN0001", "FW01", true},
      {"word 83 not valid (bits 15-14 not 01): its CFA bit means nothing",
       [] {
         Block b = AtaBlock();
         b.Word(83, 0xFFFF);
         return b;
       }(),
       16383, 16, 63, "PLOVER 8GB ATA", "SN0001", "FW01", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reader = Reader();
    reader.block = c.block;
    sim::CardIdentity identity;
    std::string why;
    ASSERT_TRUE(Ask(&identity, &why)) << why;
    EXPECT_EQ(c.c, identity.cylinders);
    EXPECT_EQ(c.h, identity.heads);
    EXPECT_EQ(c.s, identity.sectorsPerTrack);
    EXPECT_EQ(c.model, identity.model);
    EXPECT_EQ(c.serial, identity.serialNumber);
    EXPECT_EQ(c.firmware, identity.firmwareRevision);
    EXPECT_EQ(c.compactFlash, identity.compactFlash);
  }

  // The card model's own block reads back as the card was described, all 40
  // model characters included.
  sim::CardSettings settings;
  settings.identity.cylinders = 490;
  settings.identity.heads = 8;
  settings.identity.sectorsPerTrack = 32;
  settings.identity.model = "KESTREL CF 64MB CARD WITH A FORTY CHARS";
  settings.identity.model += "X";
  settings.identity.serialNumber = "KS10012345";
  settings.identity.firmwareRevision = "REV 2.05";
  sim::AtaCard card(settings);
  Block modelled;
  ASSERT_TRUE(card.Identify(modelled.bytes));
  sim::CardIdentity identity;
  host::DecodeIdentify(modelled.bytes, &identity);
  EXPECT_EQ(490, identity.cylinders);
  EXPECT_EQ(8, identity.heads);
  EXPECT_EQ(32, identity.sectorsPerTrack);
  EXPECT_EQ(settings.identity.model, identity.model);
  EXPECT_EQ("KS10012345", identity.serialNumber);
  EXPECT_EQ("REV 2.05", identity.firmwareRevision);
  EXPECT_TRUE(identity.compactFlash);
}

TEST(SatIdentify, ReadersThatDoNotAnswerGiveNoIdentity) {
  struct Case {
    const char* name;
    const char* reason;                   // part of *why
    std::function<void(Reader*)> change;  // to a reader that answers
  };
  const Case cases[] = {
      {"no SG_IO at all (a loop device)", "SG_IO refused",
       [](Reader* r) {
         r->result = -1;
         r->error = ENOTTY;
       }},
      // Fixed-format sense: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
      {"no pass-through in the bridge", "sense key 05h, ASC/ASCQ 20h/00h",
       [](Reader* r) {
         r->CheckCondition({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0});
       }},
      // Each sense block below written out whole, as a reader returns it.
      // Descriptor sense: ABORTED COMMAND with the ATA status ERR bit set.
      {"the card aborted IDENTIFY", "sense key 0Bh",
       [](Reader* r) {
         r->CheckCondition({0x72, 0x0B, 0x00, 0x00, 0, 0, 0, 14, 0x09, 0x0C, 0,
                            0x04, 0,    0,    0,    0, 0, 0, 0,  0,    0,    0x51});
       }},
      // Recovered error with the registers returned, but ERR set in them.
      {"registers returned with ERR", "sense key 01h, ASC/ASCQ 00h/1Dh",
       [](Reader* r) {
         r->CheckCondition({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0,
                            0x04, 0,    0,    0,    0, 0, 0, 0,  0,    0,    0x51});
       }},
      {"the host adapter failed", "host status 07h", [](Reader* r) { r->hostStatus = 0x07; }},
      {"half a block", "returned 256 of the 512 bytes", [](Reader* r) { r->resid = 256; }},
      {"a bridge that answers zeros", "no geometry", [](Reader* r) { r->block = Block(); }},
      {"BUSY status", "SCSI status 08h", [](Reader* r) { r->status = 0x08; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reader = Reader();
    reader.block = CompactFlashBlock();
    c.change(&reader);
    sim::CardIdentity identity;
    std::string why;
    EXPECT_FALSE(Ask(&identity, &why));
    EXPECT_NE(std::string::npos, why.find(c.reason)) << why;
  }
}

TEST(SatIdentify, RegistersReturnedWithoutErrorCountAsAnAnswer) {
  const std::vector<uint8_t> senses[] = {
      // Descriptor format with the ATA Status Return descriptor: status 50h.
      {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x50},
      // Fixed format: the ATA status in INFORMATION byte 1.
      {0x70, 0, 0x01, 0, 0x50, 0, 0, 10, 0, 0, 0, 0, 0x00, 0x1D, 0, 0, 0, 0},
  };
  for (const auto& sense : senses) {
    reader = Reader();
    reader.block = CompactFlashBlock();
    reader.CheckCondition(sense);
    sim::CardIdentity identity;
    std::string why;
    ASSERT_TRUE(Ask(&identity, &why)) << why;
    EXPECT_EQ(980, identity.cylinders);
  }
  // Sense data cut short is no answer.
  EXPECT_FALSE(host::SenseReportsCompletion(senses[1].data(), 13));
  EXPECT_TRUE(host::SenseReportsCompletion(senses[1].data(), 14));
}

}  // namespace
