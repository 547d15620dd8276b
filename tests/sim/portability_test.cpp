// The device models are also built into Win32 drivers; they must stand alone.
#include <gtest/gtest.h>

#include <string>

#include "support/support.h"

namespace {

// Of the rest of the tree the models take only the neutral headers of common/,
// and the system's own headers only the POSIX medium's source file does.
TEST(SimPortability, StandsAloneWithItsSystemCallsInThePosixMedium) {
  const std::string sim = std::string(DUNMORE_SOURCE_DIR) + "/src/sim/";
  std::string output;
  int status =
      testsupport::RunCommand("grep -nE '#include *\"' " + sim + "*.h " + sim +
                                  "*.cpp | grep -vE '#include *\"(sim|common)/[a-z_0-9]+\\.h\"'",
                              &output);
  EXPECT_EQ(1, status) << "grep found (0) or failed (2):\n" << output;

  status = testsupport::RunCommand(
      "grep -lE '#include *<(unistd|fcntl|sys/[a-z]+)\\.h>' " + sim + "*.h " + sim + "*.cpp",
      &output);
  EXPECT_EQ(0, status);
  EXPECT_EQ(sim + "medium_posix.cpp\n", output);
}

}  // namespace
