// The VWIN32 system device's DOS IOCTL service (control code 1), as far as
// the utility uses it: Int 21h function 440Dh with the drive map query
// (086Fh) and the physical volume lock (084Bh) and unlock (086Bh). Registers
// travel as a 28-byte record, seven little-endian 32-bit values; a failed call
// comes back with the carry flag set and a DOS error code in AX.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/ata_card.h"

namespace sim {

// The control code, the register record and the DOS codes below are the
// device's side of its contract with the utility, written here from the DOS
// IOCTL description and not taken from device/dioc_registers.h, for the same
// reason as the pass-through driver's records: a shared header would let a
// wrong value pass on both sides at once.
constexpr uint32_t kVwin32DosIoctl = 1;

constexpr uint32_t kRegistersSize = 28;
constexpr int kRegEbx = 0;
constexpr int kRegEdx = 4;
constexpr int kRegEcx = 8;
constexpr int kRegEax = 12;
constexpr int kRegEdi = 16;
constexpr int kRegEsi = 20;
constexpr int kRegFlags = 24;
constexpr uint32_t kCarryFlag = 0x0001;

constexpr uint16_t kGenericIoctl = 0x440D;
constexpr uint16_t kGetDriveMapInfo = 0x086F;
constexpr uint16_t kLockPhysicalVolume = 0x084B;
constexpr uint16_t kUnlockPhysicalVolume = 0x086B;
// Every drive letter that is not a card's belongs to the first fixed disk.
constexpr uint8_t kFixedDiskUnit = 0x80;

// DOS error codes left in AX with the carry flag.
constexpr uint16_t kErrorInvalidFunction = 0x0001;
constexpr uint16_t kErrorAccessDenied = 0x0005;
constexpr uint16_t kErrorInvalidDrive = 0x000F;
constexpr uint16_t kErrorBadLength = 0x0018;

// The drive map record filled by 086Fh.
constexpr int kDriveMapAllocationLength = 0;
constexpr int kDriveMapInfoLength = 1;
constexpr int kDriveMapInt13Unit = 3;
constexpr uint8_t kDriveMapRecordSize = 16;

// One register record in and out, as the device saw it.
struct RegisterCall {
  uint32_t code;
  std::array<uint32_t, 7> in;  // EBX, EDX, ECX, EAX, EDI, ESI, flags
  std::array<uint32_t, 7> out;
  bool returned;  // what DeviceIoControl returns
};

// Where a 32-bit address that the caller passed in a register lies in this
// process, or null when it names nothing the device may fill: length bytes
// from there must be the caller's.
using AddressMap = uint8_t* (*)(uint32_t address, uint32_t length);

// The flat 32-bit address space of a Windows 9x process: the address is the
// pointer. In a process whose pointers are wider it maps nothing.
uint8_t* FlatAddress(uint32_t address, uint32_t length);

class Vwin32Device {
 public:
  explicit Vwin32Device(std::vector<AtaCard*> cards, AddressMap map = FlatAddress);
  // Closing the device gives back every volume lock taken through it.
  ~Vwin32Device();
  Vwin32Device(const Vwin32Device&) = delete;
  Vwin32Device& operator=(const Vwin32Device&) = delete;

  // The device's side of DeviceIoControl. Returns false only when the call
  // does not reach the DOS service at all; a DOS failure returns true with
  // the carry flag set in the output record.
  bool Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
               uint32_t outputSize);

  std::vector<RegisterCall> calls;

 private:
  // 0 on success, or the DOS error code.
  uint16_t DosIoctl(std::array<uint32_t, 7>& regs);
  uint16_t DriveMap(uint8_t drive, uint32_t bufferAddress);
  uint16_t Lock(uint8_t unit, uint8_t level);
  uint16_t Unlock(uint8_t unit);
  int CardOfUnit(uint8_t unit) const;

  std::vector<AtaCard*> cards_;
  AddressMap map_;
  std::vector<int> holds_;  // volume locks taken through this device, per card
};

}  // namespace sim
