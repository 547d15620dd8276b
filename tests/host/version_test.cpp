// GetVersionExA on Windows 9x, NT and machines that name no version.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/host.h"
#include "win32/win32.h"

namespace {

const char k98[] =
    "REGEDIT4\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"
    "\"VersionNumber\"=\"4.10.2222\"\n\"SubVersionNumber\"=\" A \"\n";
const char kNt[] =
    "REGEDIT4\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion]\n"
    "\"CurrentVersion\"=\"5.1\"\n\"CurrentBuildNumber\"=\"2600\"\n"
    "\"CSDVersion\"=\"Service Pack 3\"\n";

void Load(const std::string& text) {
  std::string error;
  ASSERT_TRUE(host::LoadMachineText(text, "version", &error)) << error;
}

// Asks with a record of the given size, as the start-up does: zeroed, the
// size field set.
bool Ask(DWORD size, OSVERSIONINFOEXA* info) {
  std::memset(info, 0, sizeof *info);
  info->dwOSVersionInfoSize = size;
  return GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(info)) != FALSE;
}

TEST(Version, Windows98AnswersOnlyTheBasicRecord) {
  Load(k98);
  OSVERSIONINFOEXA info;
  EXPECT_FALSE(Ask(156, &info));
  ASSERT_TRUE(Ask(148, &info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 10u);
  EXPECT_EQ(info.dwBuildNumber, 0x040A08AEu);
  EXPECT_STREQ(info.szCSDVersion, " A ");
}

TEST(Version, Windows95BuildNumberCarriesItsVersion) {
  Load(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n"
      "\"VersionNumber\"=\"4.00.950\"\n");
  OSVERSIONINFOEXA info;
  ASSERT_TRUE(Ask(148, &info));
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.dwBuildNumber, 0x040003B6u);
  EXPECT_STREQ(info.szCSDVersion, "");
}

// Checks every field as the Windows 98 test above does, for the NT record.
TEST(Version, NtAnswersBothRecordsAndWinsOverThe9xKey) {
  Load(std::string(kNt) + std::string(k98).substr(9));
  OSVERSIONINFOEXA info;
  ASSERT_TRUE(Ask(148, &info));
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
  EXPECT_EQ(info.dwMajorVersion, 5u);
  EXPECT_EQ(info.dwMinorVersion, 1u);
  EXPECT_EQ(info.dwBuildNumber, 2600u);
  EXPECT_STREQ(info.szCSDVersion, "Service Pack 3");
  ASSERT_TRUE(Ask(156, &info));
  EXPECT_EQ(info.dwBuildNumber, 2600u);
  EXPECT_EQ(info.wServicePackMajor, 3);
  EXPECT_FALSE(Ask(150, &info));
}

TEST(Version, AMachineWithoutVersionAnswersNeitherRecord) {
  Load("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion]\n");
  OSVERSIONINFOEXA info;
  EXPECT_FALSE(Ask(156, &info));
  EXPECT_FALSE(Ask(148, &info));
}

}  // namespace
