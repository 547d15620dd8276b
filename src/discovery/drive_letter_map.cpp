// The drive letters in use, as the system itself keeps them: filled from the
// letters of every scanned device, then changed one letter at a time by the
// card disk as it plans and removes partitions.

#include "discovery/drive_letter_map.h"

#include <cstring>

#include "discovery/card_device_table.h"

DriveLetterMap theDriveLetterMap;

namespace {

// Slot i stands for the character 'A' + i: A to Z, then the six characters
// that follow Z in ASCII ('[' to '`'), which the map hands out once A to Z
// are all taken.
const char kFirstLetter = 'A';
const char kFloppyA = 'A';
const char kFloppyB = 'B';

// The slot a character names, or -1 when it names none.
int SlotOf(char letter) {
  int slot = static_cast<unsigned char>(letter) - kFirstLetter;
  return (slot >= 0 && slot < DriveLetterMap::kSlots) ? slot : -1;
}

// Before the run starts the map knows only the floppy letters A and B. It
// depends on no other object, so its place in the start-up order is free.
struct DriveLetterMapStaticStart {
  DriveLetterMapStaticStart() { theDriveLetterMap.Reset(); }
};
DriveLetterMapStaticStart driveLetterMapStaticStart;

}  // namespace

void DriveLetterMap::Reset() {
  std::memset(slots, 0, sizeof slots);
  // The floppy drive letters are never free for a disk.
  slots[SlotOf(kFloppyA)] = kFloppyA;
  slots[SlotOf(kFloppyB)] = kFloppyB;
}

void DriveLetterMap::MarkUsed(const CardDeviceTable& table) {
  for (int i = 0; i < table.recordCount && i < CardDeviceTable::kCapacity; ++i) {
    const char* letters = table.records[i].driveLetters;
    for (size_t k = 0; k < sizeof table.records[i].driveLetters && letters[k] != '\0'; ++k) {
      int slot = SlotOf(letters[k]);
      if (slot >= 0) slots[slot] = letters[k];
    }
  }
}

char DriveLetterMap::TakeFreeLetter() {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (slots[slot] == 0) {
      slots[slot] = static_cast<char>(kFirstLetter + slot);
      return slots[slot];
    }
  }
  return 0;
}

void DriveLetterMap::ReleaseLetter(char letter) {
  int slot = SlotOf(letter);
  if (slot >= 0) slots[slot] = 0;
}
