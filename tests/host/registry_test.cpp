// The Reg* functions on a loaded machine, and the machine files that ship.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/testing.h"
#include "support/support.h"
#include "win32/win32.h"

namespace {

const char kMachine[] =
    "REGEDIT4\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\beta]\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\Alpha]\n"
    "\"HardWareKey\"=\"PCMCIA\\\\CARD\\\\1\"\n"
    "\"Parent\"=hex:00,c0,a0,c1\n"
    "\"Count\"=dword:00000102\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\a_b]\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\AB]\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\Gamma]\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\ab0]\n"
    "[HKEY_LOCAL_MACHINE\\Enum]\n"
    "@=\"root text\"\n";

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(host::LoadMachineText(kMachine, "test machine", &error)) << error;
    ASSERT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "config manager\\ENUM", 0, KEY_READ, &enumKey_),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(enumKey_);
    EXPECT_EQ(host::OpenKeyCount(), 0);
  }

  std::vector<std::string> Names() {
    std::vector<std::string> names;
    char name[64];
    for (DWORD index = 0;; ++index) {
      DWORD size = sizeof name;
      LONG result = RegEnumKeyExA(enumKey_, index, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (result != ERROR_SUCCESS) {
        EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
        break;
      }
      EXPECT_EQ(size, std::strlen(name));
      names.push_back(name);
    }
    return names;
  }

  HKEY enumKey_ = nullptr;
};

TEST_F(Registry, OpeningFindsKeysWhateverTheirCase) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager\\Enum\\Missing", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Config Manager", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(RegOpenKeyExA(enumKey_, "ALPHA", 0, KEY_READ, &key), ERROR_SUCCESS);
  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, nullptr, 0, KEY_READ, &again), ERROR_SUCCESS);
  HKEY empty = nullptr;
  ASSERT_EQ(RegOpenKeyExA(key, "", 0, KEY_READ, &empty), ERROR_SUCCESS);
  EXPECT_NE(again, key);
  EXPECT_EQ(host::OpenKeyCount(), 4);
  char text[32];
  DWORD size = sizeof text;
  EXPECT_EQ(RegQueryValueExA(again, "hardwarekey", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                             &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(text, "PCMCIA\\CARD\\1");
  for (HKEY opened : {key, again, empty}) EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(host::OpenKeyCount(), 1);
}

TEST_F(Registry, QueriesAnswerSizesAndRefuseShortBuffers) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(enumKey_, "Alpha", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  // Without a buffer the size is answered; text counts its terminating zero.
  EXPECT_EQ(RegQueryValueExA(key, "HardWareKey", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 14u);
  BYTE buffer[16] = {};
  size = 13;
  EXPECT_EQ(RegQueryValueExA(key, "HardWareKey", nullptr, nullptr, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 14u);
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "Parent", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(std::vector<BYTE>(buffer, buffer + 4), (std::vector<BYTE>{0x00, 0xc0, 0xa0, 0xc1}));
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, "COUNT", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(buffer[0] | buffer[1] << 8, 0x102);
  EXPECT_EQ(RegQueryValueExA(key, "Allocation", nullptr, nullptr, buffer, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
  // The default value of a key opened straight from a root.
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum", 0, KEY_READ, &key), ERROR_SUCCESS);
  size = sizeof buffer;
  EXPECT_EQ(RegQueryValueExA(key, nullptr, nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "root text");
  RegCloseKey(key);
}

TEST_F(Registry, SubkeysAreListedInCaseInsensitiveOrder) {
  // Lower case decides: '_' (0x5F) comes before 'b' (0x62).
  EXPECT_EQ(Names(), (std::vector<std::string>{"a_b", "AB", "ab0", "Alpha", "beta", "Gamma"}));
}

TEST_F(Registry, EnumerationNeedsRoomForTheTerminatingZero) {
  char name[8];
  DWORD size = 5;  // "Alpha" is index 3 and needs 6
  EXPECT_EQ(RegEnumKeyExA(enumKey_, 3, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  size = 6;
  EXPECT_EQ(RegEnumKeyExA(enumKey_, 3, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "Alpha");
  EXPECT_EQ(size, 5u);
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(enumKey_, 6, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, AKeyHeldOpenOutlivesTheNextMachine) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(enumKey_, "Alpha", 0, KEY_READ, &key), ERROR_SUCCESS);
  std::string error;
  ASSERT_TRUE(host::LoadMachineText("REGEDIT4\n", "empty", &error)) << error;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "Count", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  HKEY missing = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Config Manager", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(Registry, AFailedLoadLeavesTheMachineAsItWas) {
  std::string error;
  EXPECT_FALSE(host::LoadMachineText("REGEDIT4\n[HKEY_DYN_DATA\\X]\nbad\n", "broken.reg", &error));
  EXPECT_EQ(error, "broken.reg:3: expected a [key], a \"value\"=, @= or a comment");
  EXPECT_EQ(Names().size(), 6u);
  EXPECT_FALSE(host::LoadMachineFile("/nonexistent/machine.reg", &error));
  EXPECT_EQ(error.rfind("/nonexistent/machine.reg: cannot be read", 0), 0u) << error;
}

TEST(Machines, TheBuiltInDefaultIsMachinesDefaultReg) {
  EXPECT_EQ(std::string(host::DefaultMachineText()),
            testsupport::ReadFile(std::string(DUNMORE_SOURCE_DIR) + "/machines/default.reg"));
}

TEST(Machines, EveryShippedMachineLoads) {
  std::string folder = std::string(DUNMORE_SOURCE_DIR) + "/machines";
  DIR* dir = opendir(folder.c_str());
  ASSERT_NE(dir, nullptr);
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".reg") != 0) continue;
    std::string error;
    EXPECT_TRUE(host::LoadMachineFile(folder + "/" + name, &error)) << error;
    ++count;
  }
  closedir(dir);
  EXPECT_GE(count, 6);
}

}  // namespace
