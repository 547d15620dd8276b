// Registries at and past the sizes the scan's buffers and the table allow,
// generated as text.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/little_endian.h"
#include "discovery/card_device_table.h"
#include "host/host.h"
#include "scan_expectations.h"

namespace {

using discoverytest::LoadText;
using discoverytest::ScanInto;

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out = "hex:";
  char byte[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", bytes[i]);
    out += byte;
  }
  return out;
}

void PutWord(std::vector<uint8_t>* bytes, size_t offset, uint16_t word) {
  PutLe16(&(*bytes)[offset], word);
}

// An "Allocation" value: the first I/O range at bytes 20 and 22, the second
// range's start at byte 56, cut to length bytes.
std::vector<uint8_t> Allocation(uint16_t start, uint16_t end, uint16_t secondStart, size_t length) {
  std::vector<uint8_t> bytes(length < 64 ? 64 : length, 0);
  bytes[0] = 0x40;
  PutWord(&bytes, 20, start);
  PutWord(&bytes, 22, end);
  PutWord(&bytes, 56, secondStart);
  PutWord(&bytes, 58, secondStart);
  bytes.resize(length);
  return bytes;
}

// Builds a machine one devnode at a time.
class Machine {
 public:
  Machine() : text_("REGEDIT4\n\n") {}

  // A disk devnode numbered number, on the card devnode numbered card
  // (0 for a disk that is on no card).
  void AddDisk(unsigned number, unsigned card, const std::string& hardwareKey,
               const std::string& letters) {
    text_ += "[HKEY_LOCAL_MACHINE\\Enum\\" + hardwareKey + "]\n\"Class\"=\"DiskDrive\"\n";
    if (!letters.empty()) text_ += "\"CurrentDriveLetterAssignment\"=" + Quoted(letters) + "\n";
    text_ += Devnode(number) + "\"HardWareKey\"=" + Quoted(hardwareKey) + "\n";
    if (card != 0) {
      std::vector<uint8_t> parent(4);
      for (int i = 0; i < 4; ++i) parent[i] = static_cast<uint8_t>(card >> (8 * i));
      text_ += "\"Parent\"=" + Hex(parent) + "\n";
    }
    text_ += "\n";
  }

  void AddCard(unsigned number, const std::string& hardwareKey,
               const std::vector<uint8_t>& allocation) {
    text_ += Devnode(number) + "\"HardWareKey\"=" + Quoted(hardwareKey) + "\n";
    text_ += "\"Allocation\"=" + Hex(allocation) + "\n\n";
  }

  const std::string& text() const { return text_; }

 private:
  static std::string Devnode(unsigned number) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x", number);
    return std::string("[HKEY_DYN_DATA\\Config Manager\\Enum\\") + name + "]\n";
  }

  std::string text_;
};

// The table followed by guard bytes: a record filed past the table's end
// would land in the guard.
struct GuardedTable {
  CardDeviceTable table;
  uint8_t guard[2 * sizeof(CardDeviceRecord)];
};

TEST(RegistryLimits, ScanFilesAtMostAFullTable) {
  Machine machine;
  // 40 disks, alternately on a card and not, so that the 33rd and later
  // devnodes would reach both the record filing and the card lookups.
  for (unsigned i = 0; i < 40; ++i) {
    char key[64];
    std::snprintf(key, sizeof key, "ESDI\\DISK_%02u\\0", i);
    if (i % 2 == 0) {
      machine.AddDisk(0xc1000000 + i, 0, key, "C");
    } else {
      char cardKey[64];
      std::snprintf(cardKey, sizeof cardKey, "PCMCIA\\CARD%02u_CF-0000\\1", i);
      machine.AddCard(0xc2000000 + i, cardKey, Allocation(0x170, 0x177, 0x376, 64));
      machine.AddDisk(0xc1000000 + i, 0xc2000000 + i, key, "E");
    }
  }
  LoadText(machine.text());

  GuardedTable guarded;
  std::memset(&guarded, 0, sizeof guarded);
  ASSERT_EQ(ScanInto(&guarded.table), 0);
  ASSERT_EQ(guarded.table.recordCount, CardDeviceTable::kCapacity);
  for (uint8_t byte : guarded.guard) ASSERT_EQ(byte, 0) << "written past the table";
  // The 32 records are the first 32 devnodes, in order.
  const CardDeviceRecord& last = guarded.table.records[CardDeviceTable::kCapacity - 1];
  EXPECT_STREQ(last.cardName, "CARD31");
  EXPECT_EQ(last.hasIoPorts, 1);
  EXPECT_EQ(guarded.table.records[30].isPcCard, 0);
}

struct Shape {
  const char* what;
  uint16_t start;
  uint16_t end;
  uint16_t secondStart;
  size_t shortestWithPorts;  // the least length that yields ports; 0 for none
  int controlPort;
};

TEST(RegistryLimits, AllocationOfEveryLengthUpTo64BytesAndPastItsBuffer) {
  const Shape shapes[] = {
      {"8 ports and a second range", 0x1F0, 0x1F7, 0x3F6, 58, 0x3F6},
      {"16 ports", 0x140, 0x14F, 0x3F6, 24, 0x14E},
      {"4 ports", 0x140, 0x143, 0x3F6, 0, 0},
  };
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 64; ++length) lengths.push_back(length);
  // The value's buffer holds 1024 bytes; a longer value fails to read.
  lengths.push_back(1024);
  lengths.push_back(1025);
  for (const Shape& shape : shapes) {
    for (size_t length : lengths) {
      SCOPED_TRACE(std::string(shape.what) + ", " + std::to_string(length) + " bytes");
      Machine machine;
      machine.AddCard(0xc2000000, "PCMCIA\\SIZE_CF-0000\\1",
                      Allocation(shape.start, shape.end, shape.secondStart, length));
      machine.AddDisk(0xc2000100, 0xc2000000, "ESDI\\SIZE_CARD\\0", "E");
      LoadText(machine.text());

      CardDeviceTable table;
      std::memset(&table, 0, sizeof table);
      ASSERT_EQ(ScanInto(&table), 0);
      ASSERT_EQ(table.recordCount, 1);
      const CardDeviceRecord& record = table.records[0];
      EXPECT_EQ(record.isPcCard, 1);
      bool ports =
          shape.shortestWithPorts != 0 && length >= shape.shortestWithPorts && length <= 1024;
      EXPECT_EQ(record.hasIoPorts, ports ? 1 : 0);
      if (ports) {
        EXPECT_EQ(record.ioBase, shape.start);
        EXPECT_EQ(record.controlPort, shape.controlPort);
      }
      // Too short for the first range: nothing of the value is taken.
      if (length < 24) {
        EXPECT_EQ(record.ioBase, 0);
      }
    }
  }
}

TEST(RegistryLimits, LongTextsAreCutToTheirFields) {
  Machine machine;
  // Names of 99 and of 151 characters (device part and the backslash
  // before the instance).
  machine.AddCard(0xc2000000, "PCMCIA\\" + std::string(98, 'N') + "\\1",
                  Allocation(0x170, 0x177, 0x376, 64));
  machine.AddDisk(0xc2000100, 0xc2000000, "ESDI\\NAME_99\\0", std::string(31, 'L'));
  machine.AddCard(0xc3000000, "PCMCIA\\" + std::string(150, 'M') + "\\1",
                  Allocation(0x180, 0x18F, 0, 64));
  machine.AddDisk(0xc3000100, 0xc3000000, "ESDI\\NAME_151\\0", std::string(40, 'K'));
  // Letters of 255 characters fit the 256-byte buffer; 256 do not and count
  // as none.
  machine.AddDisk(0xc4000100, 0, "ESDI\\LETTERS_255\\0", std::string(255, 'J'));
  machine.AddDisk(0xc5000100, 0, "ESDI\\LETTERS_256\\0", std::string(256, 'I'));
  // Hardware keys of 1023 characters fit the 1024-byte buffer; 1024 do not,
  // and the devnode leaves no record.
  machine.AddDisk(0xc6000100, 0, "ESDI\\" + std::string(1016, 'H') + "\\0", "H");
  machine.AddDisk(0xc7000100, 0, "ESDI\\" + std::string(1017, 'G') + "\\0", "G");
  LoadText(machine.text());

  CardDeviceTable table;
  discoverytest::Scribble(&table);
  ASSERT_EQ(ScanInto(&table), 0);
  discoverytest::ExpectRecords(
      table,
      {
          {std::string(31, 'L').c_str(), 1, (std::string(98, 'N') + "\\").c_str(), 1, 0x170, 0x376},
          {std::string(31, 'K').c_str(), 1, std::string(99, 'M').c_str(), 1, 0x180, 0x18E},
          {std::string(31, 'J').c_str(), 0, "", 0, 0, 0},
          {"", 0, "", 0, 0, 0},
          {"H", 0, "", 0, 0, 0},
      });
}

}  // namespace
