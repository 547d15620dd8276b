// Disk and CD-ROM device nodes of the Windows 9x device registry, with the PC
// Card each one sits on.
#pragma once

#include <cstdint>

#include "win32/win32.h"

struct CardDeviceRecord {
  char cardName[100];
  int32_t hasIoPorts;
  int32_t isPcCard;
  int32_t ioBase;
  int32_t controlPort;
  char driveLetters[32];
};

struct CardDeviceTable {
  static constexpr int kCapacity = 32;

  int32_t recordCount;
  CardDeviceRecord records[kCapacity];

  int Scan();
  int ReadDiskEntry(const char* hardwareKey, char* letters);
  int ReadParentCard(const char* parentKeyName, int* ioBase, int* controlPort, char* name);
  int FindCardByHardwareKey(const char* keyPrefix, int* ioBase, int* controlPort, char* name);
  int ReadAllocation(HKEY devnode, int* ioBase, int* controlPort);

  int FindByName(const char* text) const;
  int IsDistinct(int index) const;
  void Select(int index);
};

extern CardDeviceTable theCardDeviceTable;
