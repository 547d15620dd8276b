#include "device/disk_channel.h"

#include <cctype>
#include <cstring>

#include "common/ata_commands.h"
#include "common/little_endian.h"
#include "device/ata_request.h"
#include "device/dioc_registers.h"

DiskChannel theDiskChannel;

namespace {

// Copies at most maxChars characters of a text field, stopping early at a
// NUL, into dest with its terminating NUL. The blanks that pad the field stay.
void CopyIdentifyText(const uint8_t* field, int maxChars, char* dest) {
  char scratch[kModelChars + 1];
  std::memset(scratch, 0, sizeof scratch);
  for (int i = 0; i < maxChars && field[i] != 0; ++i) scratch[i] = static_cast<char>(field[i]);
  std::strcpy(dest, scratch);
}

// A VWIN32 DOS IOCTL call fails when DeviceIoControl does or when the service
// returns with the carry flag set.
bool CallDosIoctl(HANDLE vwin32, DIOC_REGISTERS* regs) {
  DWORD returned = 0;
  BOOL done = DeviceIoControl(vwin32, kVwin32DosIoctl, regs, sizeof *regs, regs, sizeof *regs,
                              &returned, nullptr);
  return done != 0 && (regs->reg_Flags & kCarryFlag) == 0;
}

}  // namespace

void DiskChannel::Open() {
  driveLetter = 0;
  passThroughHandle = nullptr;
  vwin32Handle = INVALID_HANDLE_VALUE;
  passThroughHandle =
      CreateFileA("\\\\.\\MIRT.VXD", 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (passThroughHandle == INVALID_HANDLE_VALUE) throw "VXD not found.";
  vwin32Handle = CreateFileA("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

void DiskChannel::Close() {
  UnlockVolume();
  if (passThroughHandle != nullptr) CloseHandle(passThroughHandle);
  passThroughHandle = nullptr;
  if (vwin32Handle != INVALID_HANDLE_VALUE) CloseHandle(vwin32Handle);
  vwin32Handle = INVALID_HANDLE_VALUE;
}

int DiskChannel::SetPorts(int ioBase, int controlPort) {
  if (passThroughHandle == nullptr) return -1;
  uint8_t ports[kPortRecordSize];
  PutLe16(ports + kPortRecordIoBase, static_cast<uint16_t>(ioBase));
  PutLe16(ports + kPortRecordControlPort, static_cast<uint16_t>(controlPort));
  DWORD returned = 0;
  BOOL done = DeviceIoControl(passThroughHandle, kPassThroughSetPorts, ports, sizeof ports, nullptr,
                              0, &returned, nullptr);
  return done ? 0 : -1;
}

int DiskChannel::IdentifyDrive(int* cylinders, int* heads, int* sectors, char* serialNumber,
                               char* firmwareRevision, char* model) {
  if (passThroughHandle == nullptr) return -1;
  uint8_t block[kIdentifyBlockBytes];
  std::memset(block, 0, sizeof block);
  AtaRequest request;
  request.Build(kAtaIdentifyDevice, 0, 0, 0, 1);
  DWORD returned = 0;
  if (!DeviceIoControl(passThroughHandle, kPassThroughRead, request.bytes, sizeof request.bytes,
                       block, kPassThroughOutputLength, &returned, nullptr)) {
    return -1;
  }
  // The geometry words are signed 16-bit as read, before the text swap.
  auto word = [&block](int offset) {
    return static_cast<int>(static_cast<int16_t>(GetLe16(block + offset)));
  };
  if (cylinders != nullptr) *cylinders = word(kIdentifyCylindersOffset);
  if (heads != nullptr) *heads = word(kIdentifyHeadsOffset);
  if (sectors != nullptr) *sectors = word(kIdentifySectorsOffset);

  SwapBytePairs(block, kIdentifyBlockBytes);
  if (serialNumber != nullptr) {
    CopyIdentifyText(block + kIdentifySerialOffset, kSerialNumberChars, serialNumber);
  }
  if (firmwareRevision != nullptr) {
    CopyIdentifyText(block + kIdentifyFirmwareOffset, kFirmwareRevisionChars, firmwareRevision);
  }
  if (model != nullptr) CopyIdentifyText(block + kIdentifyModelOffset, kModelChars, model);
  return 0;
}

int DiskChannel::ReadSectors(int cylinder, int head, int sector, int count, void* buffer) {
  if (passThroughHandle == nullptr) return -1;
  std::memset(buffer, 0, kIdentifyBlockBytes);
  AtaRequest request;
  request.Build(kAtaReadSectors, cylinder, head, sector, count);
  DWORD returned = 0;
  BOOL done =
      DeviceIoControl(passThroughHandle, kPassThroughRead, request.bytes, sizeof request.bytes,
                      buffer, kPassThroughOutputLength, &returned, nullptr);
  return done ? 0 : -1;
}

int DiskChannel::WriteSectors(int cylinder, int head, int sector, int count, void* buffer) {
  if (passThroughHandle == nullptr) return -1;
  AtaRequest request;
  request.Build(kAtaWriteSectors, cylinder, head, sector, count);
  request.MarkWrite();
  DWORD returned = 0;
  BOOL done =
      DeviceIoControl(passThroughHandle, kPassThroughWrite, request.bytes, sizeof request.bytes,
                      buffer, kPassThroughOutputLength, &returned, nullptr);
  return done ? 0 : -1;
}

int DiskChannel::LockVolume() {
  if (driveLetter == 0) return 0;
  int unit = GetDriveMapInfo(driveLetter);
  if (unit < 0) return -1;
  if (LockPhysicalVolume(unit, 0) != 0) return -1;
  return LockPhysicalVolume(unit, kPermitFormatting);
}

int DiskChannel::UnlockVolume() {
  if (driveLetter == 0) return 0;
  int unit = GetDriveMapInfo(driveLetter);
  if (unit < 0) return -1;
  if (UnlockPhysicalVolume(unit) != 0) return -1;
  return UnlockPhysicalVolume(unit);
}

int DiskChannel::GetDriveMapInfo(char letter) {
  DIOC_REGISTERS regs;
  std::memset(&regs, 0, sizeof regs);
  // Drive numbers count from A = 1.
  int upper = std::toupper(static_cast<unsigned char>(letter));
  regs.reg_EAX = kGenericIoctl;
  regs.reg_ECX = kMinorGetDriveMapInfo;
  regs.reg_EBX = static_cast<uint8_t>(upper - 64);
  regs.reg_EDX = static_cast<DWORD>(reinterpret_cast<uintptr_t>(driveMapInfo));
  driveMapInfo[kDriveMapAllocationLength] = kDriveMapBufferLength;
  if (!CallDosIoctl(vwin32Handle, &regs)) return -1;
  return driveMapInfo[kDriveMapInt13Unit];
}

int DiskChannel::LockPhysicalVolume(int unit, int permissions) {
  DIOC_REGISTERS regs;
  std::memset(&regs, 0, sizeof regs);
  regs.reg_EAX = kGenericIoctl;
  regs.reg_ECX = kMinorLockPhysicalVolume;
  regs.reg_EBX = static_cast<uint8_t>(unit);  // lock level 0 in BH
  regs.reg_EDX = static_cast<DWORD>(permissions);
  return CallDosIoctl(vwin32Handle, &regs) ? 0 : -1;
}

int DiskChannel::UnlockPhysicalVolume(int unit) {
  DIOC_REGISTERS regs;
  std::memset(&regs, 0, sizeof regs);
  regs.reg_EAX = kGenericIoctl;
  regs.reg_ECX = kMinorUnlockPhysicalVolume;
  regs.reg_EBX = static_cast<uint8_t>(unit);
  return CallDosIoctl(vwin32Handle, &regs) ? 0 : -1;
}

void SwapBytePairs(uint8_t* buffer, uint16_t length) {
  for (int i = 0; i + 1 < length; i += 2) {
    uint8_t first = buffer[i];
    buffer[i] = buffer[i + 1];
    buffer[i + 1] = first;
  }
}
