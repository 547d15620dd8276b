#include "support/golden.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/image.h"
#include "support/support.h"

namespace testsupport {

namespace {

// Compares actual with the committed file, or writes it there when asked to.
void ExpectGolden(const std::string& actual, const std::string& file, const char* what) {
  std::string path = std::string(DUNMORE_TESTS_DIR) + "/golden/" + file;
  const char* update = getenv("DUNMORE_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    WriteFile(path, actual);
    return;
  }
  std::string expected = ReadFile(path);
  EXPECT_EQ(expected, actual) << what << " differs from " << path;
}

// One row of the dump: the offset, 16 bytes in hex and as text.
std::string DumpRow(uint64_t offset, const uint8_t* row) {
  char line[96];
  int used = snprintf(line, sizeof line, "%012llx:", static_cast<unsigned long long>(offset));
  for (int i = 0; i < 16; ++i) {
    used += snprintf(line + used, sizeof line - used, "%s%02x", i % 2 == 0 ? " " : "", row[i]);
  }
  std::string text(line, used);
  text += "  ";
  for (int i = 0; i < 16; ++i) text += row[i] >= 0x20 && row[i] < 0x7f ? char(row[i]) : '.';
  return text + "\n";
}

// The dump of every non-zero row, read over the data extents only, so that a
// large sparse card costs what was written to it.
std::string ImageDump(const std::string& image) {
  std::string rows;
  int64_t size =
      ReadData(image, 0, UINT64_MAX, [&rows](uint64_t pos, const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i + 16 <= n; i += 16) {
          if (std::any_of(bytes + i, bytes + i + 16, [](uint8_t b) { return b != 0; })) {
            rows += DumpRow(pos + i, bytes + i);
          }
        }
      });
  if (size < 0) return "missing\n";
  return "size " + std::to_string(size) + "\n" + rows;
}

}  // namespace

void ExpectGoldenScreen(const Screen& screen, const std::string& name) {
  ExpectGolden(screen.Text(), name + ".screen", "screen");
}

void ExpectGoldenImage(const std::string& image, const std::string& name) {
  ExpectGolden(ImageDump(image), name + ".image", "image");
}

}  // namespace testsupport
