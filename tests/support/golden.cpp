#include "support/golden.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/support.h"

namespace testsupport {

void ExpectGoldenScreen(const Screen& screen, const std::string& name) {
  std::string path = std::string(DUNMORE_TESTS_DIR) + "/golden/" + name + ".screen";
  std::string actual = screen.Text();
  const char* update = getenv("DUNMORE_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    WriteFile(path, actual);
    return;
  }
  std::string expected = ReadFile(path);
  EXPECT_EQ(expected, actual) << "screen differs from " << path;
}

}  // namespace testsupport
