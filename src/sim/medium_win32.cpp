// The medium's system calls on Win32, for the drivers that carry the device
// models into a Windows process (under Wine, over an image file or a card
// reader's block device).
//
// A descriptor is the file's Win32 handle: handles are kernel-wide values that
// fit in 32 bits, so every module of the process can use one it was given,
// and INVALID_HANDLE_VALUE is the -1 the callers test for.
#include <windows.h>

#include <string>

#include "common/ata_commands.h"
#include "sim/medium.h"

namespace sim {
namespace {

// The volume lock is one byte far beyond the end of any card (the largest
// geometry IDENTIFY DEVICE can describe is below 2^57 bytes), so that the
// holder's own reads and writes on its other handle never meet it: a Win32
// byte-range lock is mandatory for every other handle, the holder's included.
constexpr DWORD kLockOffsetLow = 0;
constexpr DWORD kLockOffsetHigh = 0x40000000;  // byte 2^62
constexpr DWORD kLockLength = 1;
constexpr char kLockNamePrefix[] = "dunmore medium ";

// The size probe of a medium without a file size reads whole sectors and
// gives up beyond the largest card IDENTIFY DEVICE can describe.
constexpr uint32_t kProbeSize = kAtaSectorBytes;
constexpr uint64_t kMaxProbeSectors = uint64_t{1} << 48;

HANDLE ToHandle(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

int ToDescriptor(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

std::string LastErrorText() {
  DWORD code = GetLastError();
  char text[256] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' ||
                        text[length - 1] == ' ' || text[length - 1] == '.')) {
    text[--length] = '\0';
  }
  if (length == 0) return "error " + std::to_string(code);
  return text;
}

// Positions the file pointer at a 64-bit offset through the two 32-bit halves
// that every Win32 version takes.
bool Seek(HANDLE handle, uint64_t offset) {
  LONG high = static_cast<LONG>(offset >> 32);
  DWORD low = SetFilePointer(handle, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
  return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool ReadAt(int fd, uint64_t offset, uint8_t* data, uint32_t length) {
  HANDLE handle = ToHandle(fd);
  if (!Seek(handle, offset)) return false;
  uint32_t done = 0;
  while (done < length) {
    DWORD moved = 0;
    if (!ReadFile(handle, data + done, length - done, &moved, nullptr) || moved == 0) return false;
    done += moved;
  }
  return true;
}

bool WriteAt(int fd, uint64_t offset, const uint8_t* data, uint32_t length) {
  HANDLE handle = ToHandle(fd);
  if (!Seek(handle, offset)) return false;
  uint32_t done = 0;
  while (done < length) {
    DWORD moved = 0;
    if (!WriteFile(handle, data + done, length - done, &moved, nullptr) || moved == 0) {
      return false;
    }
    done += moved;
  }
  return true;
}

}  // namespace

int OpenMedium(const std::string& path, uint64_t newSize, std::string* error) {
  const DWORD access = GENERIC_READ | GENERIC_WRITE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) {
    handle = CreateFileA(path.c_str(), access, share, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
    // Setting the end of file leaves the space unwritten: the image stays
    // sparse where the file system allows it.
    if (handle != INVALID_HANDLE_VALUE && (!Seek(handle, newSize) || !SetEndOfFile(handle))) {
      *error = path + ": cannot size the new image: " + LastErrorText();
      CloseHandle(handle);
      DeleteFileA(path.c_str());
      return -1;
    }
  }
  if (handle == INVALID_HANDLE_VALUE) {
    *error = path + ": " + LastErrorText();
    return -1;
  }
  return ToDescriptor(handle);
}

void CloseMedium(int fd) {
  if (fd >= 0) CloseHandle(ToHandle(fd));
}

uint64_t MediumSize(int fd) {
  HANDLE handle = ToHandle(fd);
  DWORD high = 0;
  DWORD low = GetFileSize(handle, &high);
  bool failed = low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR;
  uint64_t size = (static_cast<uint64_t>(high) << 32) | low;
  if (!failed && size != 0) return size;
  // A block device (a card reader's disk under Wine) has no file size; its
  // end is found by reading: the first sector that cannot be read. Every
  // sector up to the end can.
  uint8_t sector[kProbeSize];
  if (!ReadAt(fd, 0, sector, kProbeSize)) return 0;
  uint64_t readable = 1;    // sectors [0, readable) can be read
  uint64_t unreadable = 1;  // grows until it names a sector past the end
  while (ReadAt(fd, unreadable * kProbeSize, sector, kProbeSize)) {
    readable = unreadable + 1;
    if (unreadable >= kMaxProbeSectors) return 0;
    unreadable *= 2;
  }
  while (readable < unreadable) {
    uint64_t middle = readable + (unreadable - readable) / 2;
    if (ReadAt(fd, middle * kProbeSize, sector, kProbeSize)) {
      readable = middle + 1;
    } else {
      unreadable = middle;
    }
  }
  return readable * kProbeSize;
}

Medium DescribeMedium(int fd) {
  Medium medium;
  medium.fd = fd;
  medium.bytes = MediumSize(fd);
  return medium;
}

bool ReadMedium(const Medium& medium, uint64_t offset, uint8_t* data, uint32_t length) {
  return ReadAt(medium.fd, offset, data, length);
}

bool WriteMedium(const Medium& medium, uint64_t offset, const uint8_t* data, uint32_t length) {
  return WriteAt(medium.fd, offset, data, length);
}

int TryLockExclusive(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  // LockFile never waits: a range another handle holds fails at once.
  if (LockFile(handle, kLockOffsetLow, kLockOffsetHigh, kLockLength, 0)) {
    return ToDescriptor(handle);
  }
  DWORD error = GetLastError();
  CloseHandle(handle);
  if (error == ERROR_LOCK_VIOLATION) return -1;
  // A device that takes no byte-range locks (a block device under Wine) is
  // held through a named mutex instead, which every process of the machine
  // sees: whoever created it holds the medium until closing it.
  std::string name = kLockNamePrefix;
  for (char c : path) {
    // Windows paths ignore case; a mutex name may hold no backslash.
    if (c == '\\') c = '/';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    name += c;
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) return -1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return -1;
  }
  return ToDescriptor(mutex);
}

bool LockOpenedMedium(int fd) {
  return fd >= 0 && LockFile(ToHandle(fd), kLockOffsetLow, kLockOffsetHigh, kLockLength, 0);
}

void UnlockOpenedMedium(int fd) {
  if (fd >= 0) UnlockFile(ToHandle(fd), kLockOffsetLow, kLockOffsetHigh, kLockLength, 0);
}

void ReleaseLock(int fd) {
  if (fd < 0) return;
  // A named mutex has no range to unlock: closing it is the release.
  UnlockFile(ToHandle(fd), kLockOffsetLow, kLockOffsetHigh, kLockLength, 0);
  CloseHandle(ToHandle(fd));
}

}  // namespace sim
