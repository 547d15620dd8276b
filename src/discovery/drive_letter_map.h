// The system's own record of the drive letters in use.
#pragma once

struct CardDeviceTable;

struct DriveLetterMap {
  // A to Z and the six characters after Z in ASCII.
  static constexpr int kSlots = 32;

  char slots[kSlots];

  void Reset();
  void MarkUsed(const CardDeviceTable& table);
  char TakeFreeLetter();
  void ReleaseLetter(char letter);
};

extern DriveLetterMap theDriveLetterMap;
