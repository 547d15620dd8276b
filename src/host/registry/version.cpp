// GetVersionExA answered from the version keys of the machine's registry.
//
// A Windows 9x machine names its version under the key
// Software\Microsoft\Windows\CurrentVersion ("VersionNumber" such as
// "4.10.2222", "SubVersionNumber" such as " A "); an NT machine under
// Software\Microsoft\Windows NT\CurrentVersion ("CurrentVersion",
// "CurrentBuildNumber", "CSDVersion"), and that key wins when both are there.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/registry/registry.h"
#include "win32/win32.h"

namespace {

// The record sizes: the one every Windows version knows, and the extended
// one that only the NT line accepts.
constexpr DWORD kBasicSize = sizeof(OSVERSIONINFOA);
constexpr DWORD kExtendedSize = sizeof(OSVERSIONINFOEXA);
static_assert(kBasicSize == 148 && kExtendedSize == 156, "record sizes of the Win32 ABI");

// VER_NT_WORKSTATION in wProductType.
constexpr BYTE kWorkstation = 1;

struct MachineVersion {
  DWORD platform = 0;
  unsigned major = 0, minor = 0, build = 0;
  std::string csd;
};

bool ReadNt(MachineVersion* version) {
  const host::RegKey* key =
      host::FindKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion");
  std::string number, build;
  if (!host::ReadText(key, "CurrentVersion", &number) ||
      std::sscanf(number.c_str(), "%u.%u", &version->major, &version->minor) != 2) {
    return false;
  }
  host::ReadText(key, "CurrentBuildNumber", &build);
  host::ReadText(key, "CSDVersion", &version->csd);
  version->build = static_cast<unsigned>(std::strtoul(build.c_str(), nullptr, 10));
  version->platform = VER_PLATFORM_WIN32_NT;
  return true;
}

bool Read9x(MachineVersion* version) {
  const host::RegKey* key =
      host::FindKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion");
  std::string number;
  if (!host::ReadText(key, "VersionNumber", &number) ||
      std::sscanf(number.c_str(), "%u.%u.%u", &version->major, &version->minor, &version->build) <
          2) {
    return false;
  }
  host::ReadText(key, "SubVersionNumber", &version->csd);
  version->platform = VER_PLATFORM_WIN32_WINDOWS;
  return true;
}

}  // namespace

BOOL GetVersionExA(LPOSVERSIONINFOA info) {
  if (info == nullptr) return FALSE;
  MachineVersion version;
  if (!ReadNt(&version) && !Read9x(&version)) return FALSE;
  DWORD size = info->dwOSVersionInfoSize;
  bool nt = version.platform == VER_PLATFORM_WIN32_NT;
  // Windows 95 and 98 know only the basic record.
  if (size != kBasicSize && !(nt && size == kExtendedSize)) return FALSE;
  info->dwMajorVersion = version.major;
  info->dwMinorVersion = version.minor;
  info->dwPlatformId = version.platform;
  if (nt) {
    info->dwBuildNumber = version.build;
  } else {
    // Windows 9x puts major and minor version in the high word of the build number.
    info->dwBuildNumber =
        ((version.major & 0xFF) << 24) | ((version.minor & 0xFF) << 16) | (version.build & 0xFFFF);
  }
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  std::strncpy(info->szCSDVersion, version.csd.c_str(), sizeof(info->szCSDVersion) - 1);
  if (size == kExtendedSize) {
    auto* extended = reinterpret_cast<LPOSVERSIONINFOEXA>(info);
    unsigned pack = 0, packMinor = 0;
    std::sscanf(version.csd.c_str(), "Service Pack %u.%u", &pack, &packMinor);
    extended->wServicePackMajor = static_cast<WORD>(pack);
    extended->wServicePackMinor = static_cast<WORD>(packMinor);
    extended->wSuiteMask = 0;
    extended->wProductType = kWorkstation;
    extended->wReserved = 0;
  }
  return TRUE;
}
