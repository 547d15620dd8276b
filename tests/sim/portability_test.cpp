// The device models are also built into Win32 drivers; they must stand alone.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

TEST(SimPortability, IncludesNothingFromTheHostOrTheSystem) {
  std::string output;
  int status = testsupport::RunCommand(
      "grep -nE '#include *\"(host|win32|device|disk|app|console|discovery|format)/' " +
          std::string(DUNMORE_SOURCE_DIR) + "/src/sim/*.h " + DUNMORE_SOURCE_DIR + "/src/sim/*.cpp",
      &output);
  EXPECT_EQ(1, status) << "grep found (0) or failed (2):\n" << output;
}

TEST(SimPortability, KeepsOperatingSystemCallsInOneFile) {
  std::string output;
  int status = testsupport::RunCommand("grep -lE '#include *<(unistd|fcntl|sys/[a-z]+)\\.h>' " +
                                           std::string(DUNMORE_SOURCE_DIR) + "/src/sim/*.h " +
                                           DUNMORE_SOURCE_DIR + "/src/sim/*.cpp",
                                       &output);
  EXPECT_EQ(0, status);
  EXPECT_EQ(std::string(DUNMORE_SOURCE_DIR) + "/src/sim/medium_posix.cpp\n", output);
}

}  // namespace
