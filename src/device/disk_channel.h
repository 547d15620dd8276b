// The system's only road to the card's sectors: raw ATA commands through the
// pass-through driver, and the physical volume lock through VWIN32.
#pragma once

#include <cstdint>

#include "win32/win32.h"

struct DiskChannel {
  HANDLE passThroughHandle;
  HANDLE vwin32Handle;
  char driveLetter;
  // The drive map record that VWIN32 fills. Its address travels in a 32-bit
  // register (EDX), so it lives here, in static storage, and never on the stack.
  uint8_t driveMapInfo[32];

  // Throws the message text "VXD not found." when the driver cannot be opened.
  void Open();
  void Close();
  int SetPorts(int ioBase, int controlPort);
  int IdentifyDrive(int* cylinders, int* heads, int* sectors, char* serialNumber,
                    char* firmwareRevision, char* model);
  int ReadSectors(int cylinder, int head, int sector, int count, void* buffer);
  int WriteSectors(int cylinder, int head, int sector, int count, void* buffer);

  int LockVolume();
  int UnlockVolume();
  int GetDriveMapInfo(char letter);
  int LockPhysicalVolume(int unit, int permissions);
  int UnlockPhysicalVolume(int unit);
};

void SwapBytePairs(uint8_t* buffer, uint16_t length);

extern DiskChannel theDiskChannel;
