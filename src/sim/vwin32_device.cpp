#include "sim/vwin32_device.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "common/little_endian.h"

namespace sim {
namespace {

constexpr int kRegisterOffsets[7] = {kRegEbx, kRegEdx, kRegEcx,  kRegEax,
                                     kRegEdi, kRegEsi, kRegFlags};
enum RegisterIndex { kEbx, kEdx, kEcx, kEax, kEdi, kEsi, kFlags };

uint8_t Low8(uint32_t value) {
  return static_cast<uint8_t>(value);
}
uint8_t High8(uint32_t value) {
  return static_cast<uint8_t>(value >> 8);
}
uint16_t Low16(uint32_t value) {
  return static_cast<uint16_t>(value);
}

}  // namespace

uint8_t* FlatAddress(uint32_t address, uint32_t /*length*/) {
  if (sizeof(uintptr_t) > sizeof(uint32_t)) return nullptr;
  return reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(address));
}

Vwin32Device::Vwin32Device(std::vector<AtaCard*> cards, AddressMap map)
    : cards_(std::move(cards)), map_(map), holds_(cards_.size(), 0) {}

Vwin32Device::~Vwin32Device() {
  for (size_t i = 0; i < cards_.size(); ++i) {
    while (holds_[i] > 0) {
      cards_[i]->ReleaseVolumeLock();
      --holds_[i];
    }
  }
}

bool Vwin32Device::Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                           uint32_t outputSize) {
  RegisterCall call{code, {}, {}, false};
  if (code == kVwin32DosIoctl && input != nullptr && inputSize >= kRegistersSize &&
      output != nullptr && outputSize >= kRegistersSize) {
    const uint8_t* in = static_cast<const uint8_t*>(input);
    for (int i = 0; i < 7; ++i) call.in[i] = GetLe32(in + kRegisterOffsets[i]);
    call.out = call.in;
    uint16_t error = DosIoctl(call.out);
    if (error != 0) {
      call.out[kEax] = (call.out[kEax] & 0xFFFF0000u) | error;
      call.out[kFlags] |= kCarryFlag;
    } else {
      call.out[kFlags] &= ~kCarryFlag;
    }
    uint8_t* out = static_cast<uint8_t*>(output);
    for (int i = 0; i < 7; ++i) PutLe32(out + kRegisterOffsets[i], call.out[i]);
    call.returned = true;
  }
  calls.push_back(call);
  return call.returned;
}

uint16_t Vwin32Device::DosIoctl(std::array<uint32_t, 7>& regs) {
  if (Low16(regs[kEax]) != kGenericIoctl) return kErrorInvalidFunction;
  switch (Low16(regs[kEcx])) {
    case kGetDriveMapInfo:
      return DriveMap(Low8(regs[kEbx]), regs[kEdx]);
    case kLockPhysicalVolume:
      return Lock(Low8(regs[kEbx]), High8(regs[kEbx]));
    case kUnlockPhysicalVolume:
      return Unlock(Low8(regs[kEbx]));
    default:
      return kErrorInvalidFunction;
  }
}

uint16_t Vwin32Device::DriveMap(uint8_t drive, uint32_t bufferAddress) {
  if (drive < 1 || drive > 26) return kErrorInvalidDrive;
  // The record's address is a 32-bit pointer into the caller's memory; one
  // that names none of it fails the call rather than reach anything else.
  uint8_t* record = bufferAddress == 0 ? nullptr : map_(bufferAddress, kDriveMapRecordSize);
  if (record == nullptr) return kErrorInvalidFunction;
  uint8_t length = record[kDriveMapAllocationLength];
  if (length <= kDriveMapInt13Unit) return kErrorBadLength;

  char letter = static_cast<char>('A' + drive - 1);
  uint8_t unit = kFixedDiskUnit;
  for (AtaCard* card : cards_) {
    for (char c : card->settings().driveLetters) {
      if (std::toupper(static_cast<unsigned char>(c)) == letter) {
        unit = card->settings().int13Unit;
      }
    }
  }
  uint8_t filled[kDriveMapRecordSize] = {};
  filled[kDriveMapAllocationLength] = length;
  filled[kDriveMapInfoLength] = kDriveMapRecordSize;
  filled[kDriveMapInt13Unit] = unit;
  std::memcpy(record, filled, length < kDriveMapRecordSize ? length : kDriveMapRecordSize);
  return 0;
}

int Vwin32Device::CardOfUnit(uint8_t unit) const {
  for (size_t i = 0; i < cards_.size(); ++i) {
    if (cards_[i]->settings().int13Unit == unit) return static_cast<int>(i);
  }
  return -1;
}

uint16_t Vwin32Device::Lock(uint8_t unit, uint8_t level) {
  // Only the outermost level is modelled; the utility takes nothing else.
  if (level != 0) return kErrorInvalidFunction;
  int card = CardOfUnit(unit);
  if (card < 0) return unit == kFixedDiskUnit ? 0 : kErrorInvalidDrive;
  if (!cards_[card]->HoldVolumeLock()) return kErrorAccessDenied;
  ++holds_[card];
  return 0;
}

uint16_t Vwin32Device::Unlock(uint8_t unit) {
  int card = CardOfUnit(unit);
  if (card < 0) return unit == kFixedDiskUnit ? 0 : kErrorInvalidDrive;
  if (holds_[card] == 0) return kErrorAccessDenied;
  cards_[card]->ReleaseVolumeLock();
  --holds_[card];
  return 0;
}

}  // namespace sim
