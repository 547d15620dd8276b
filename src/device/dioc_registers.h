// VWIN32's DOS IOCTL service: the register record it takes and returns, and
// the Int 21h function 440Dh calls the volume lock makes through it.
#pragma once

#include <cstdint>

#include "win32/win32.h"

// The register record of VWIN32's DOS IOCTL service: seven 32-bit registers,
// 28 bytes, in this order.
struct DIOC_REGISTERS {
  DWORD reg_EBX;
  DWORD reg_EDX;
  DWORD reg_ECX;
  DWORD reg_EAX;
  DWORD reg_EDI;
  DWORD reg_ESI;
  DWORD reg_Flags;
};

// The VWIN32 model (sim/vwin32_device.h) writes these codes and the record
// again on purpose, as the other party to the contract.
constexpr DWORD kVwin32DosIoctl = 1;
constexpr DWORD kCarryFlag = 0x0001;

constexpr DWORD kGenericIoctl = 0x440D;  // Int 21h AX: generic IOCTL for block devices
// CX: device category 08h in CH, minor code in CL.
constexpr DWORD kMinorGetDriveMapInfo = 0x086F;
constexpr DWORD kMinorLockPhysicalVolume = 0x084B;
constexpr DWORD kMinorUnlockPhysicalVolume = 0x086B;
// The lock for formatting that a level-0 physical volume lock may carry.
constexpr DWORD kPermitFormatting = 4;

// The drive map record: its allocation length goes in byte 0, the drive's
// Int 13h unit comes back in byte 3.
constexpr int kDriveMapAllocationLength = 0;
constexpr uint8_t kDriveMapBufferLength = 0x1F;
constexpr int kDriveMapInt13Unit = 3;
