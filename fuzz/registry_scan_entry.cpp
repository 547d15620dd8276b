// The registry scan over any machine: the input is the machine file. The
// table it fills stays within its records, every text in it is terminated
// inside its field, the choice of a card names a record of the table, and
// every key the scan opened is closed again.
#include <cstring>
#include <string>

#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"
#include "fuzz/fuzz_entries.h"
#include "host/host.h"
#include "host/testing.h"

int FuzzRegistryScan(const uint8_t* data, size_t size) {
  // No terminal is taken over while the machine boots.
  host::StartHeadlessConsole();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (!host::LoadMachineText(text, "fuzz.reg", &error)) return 0;

  CardDeviceTable& table = theCardDeviceTable;
  table = CardDeviceTable();  // empty, as static storage starts
  table.Scan();
  FUZZ_CHECK(host::OpenKeyCount() == 0);
  FUZZ_CHECK(table.recordCount >= 0 && table.recordCount <= CardDeviceTable::kCapacity);
  for (int i = 0; i < table.recordCount; ++i) {
    const CardDeviceRecord& record = table.records[i];
    FUZZ_CHECK(strnlen(record.cardName, sizeof record.cardName) < sizeof record.cardName);
    FUZZ_CHECK(strnlen(record.driveLetters, sizeof record.driveLetters) <
               sizeof record.driveLetters);
    FUZZ_CHECK(record.isPcCard == 0 || record.isPcCard == 1);
    FUZZ_CHECK(record.hasIoPorts == 0 || record.hasIoPorts == 1);
    int distinct = table.IsDistinct(i);
    FUZZ_CHECK(distinct == 0 || distinct == -1);
  }

  int found = table.FindByName("KESTREL");
  FUZZ_CHECK(found >= -1 && found < table.recordCount);
  if (found >= 0) table.Select(found);
  FUZZ_CHECK(table.recordCount >= 0 && table.recordCount <= CardDeviceTable::kCapacity);

  DriveLetterMap letters;
  letters.Reset();
  letters.MarkUsed(table);
  for (int i = 0; i < DriveLetterMap::kSlots; ++i) letters.TakeFreeLetter();
  return 0;
}
