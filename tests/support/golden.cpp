#include "support/golden.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

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
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0) return "missing\n";
  struct stat st;
  fstat(fd, &st);
  std::string dump = "size " + std::to_string(st.st_size) + "\n";
  std::vector<uint8_t> chunk(1 << 20);
  off_t at = 0;
  while (at < st.st_size) {
    off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0) break;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    data -= data % 16;
    for (off_t pos = data; pos < hole;) {
      ssize_t n = pread(fd, chunk.data(),
                        static_cast<size_t>(std::min<off_t>(hole - pos, chunk.size())), pos);
      if (n <= 0) break;
      for (ssize_t i = 0; i + 16 <= n; i += 16) {
        bool zero = true;
        for (int k = 0; k < 16; ++k) zero = zero && chunk[i + k] == 0;
        if (!zero) dump += DumpRow(static_cast<uint64_t>(pos + i), &chunk[i]);
      }
      pos += n - n % 16;
      if (n % 16 != 0) break;
    }
    at = hole;
  }
  close(fd);
  return dump;
}

}  // namespace

void ExpectGoldenScreen(const Screen& screen, const std::string& name) {
  ExpectGolden(screen.Text(), name + ".screen", "screen");
}

void ExpectGoldenImage(const std::string& image, const std::string& name) {
  ExpectGolden(ImageDump(image), name + ".image", "image");
}

}  // namespace testsupport
