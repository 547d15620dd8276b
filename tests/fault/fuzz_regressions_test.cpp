// Every input the fuzz targets were seeded with or found a fault with goes
// through the target's entry point again in the normal build: an entry
// aborts when a property breaks, which ends this test with it.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "support/support.h"

namespace {

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') files.push_back(folder + "/" + entry->d_name);
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  return files;
}

// Replays fuzz/regressions/<target> and fuzz/corpus/<target>, and for the
// registry targets the example machines and the registry fixtures they are
// seeded with (as tests/run-all's fuzz stage seeds them); the number of
// inputs replayed.
size_t Replay(const std::string& target, int (*entry)(const uint8_t*, size_t)) {
  const std::string source = DUNMORE_SOURCE_DIR;
  std::vector<std::string> folders = {source + "/fuzz/regressions/" + target,
                                      source + "/fuzz/corpus/" + target};
  if (target == "regedit4" || target == "registry_scan") {
    folders.push_back(source + "/machines");
    folders.push_back(source + "/tests/fixtures/registry");
  }
  size_t count = 0;
  for (const std::string& folder : folders) {
    for (const std::string& file : FilesIn(folder)) {
      std::string bytes = testsupport::ReadFile(file);
      // Named first, so that an abort inside the entry says which input.
      std::fprintf(stderr, "replaying %s\n", file.c_str());
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  }
  return count;
}

}  // namespace

TEST(FuzzRegressions, Regedit4) {
  EXPECT_GT(Replay("regedit4", FuzzRegedit4), 0u);
}

TEST(FuzzRegressions, RegistryScan) {
  EXPECT_GT(Replay("registry_scan", FuzzRegistryScan), 0u);
}

TEST(FuzzRegressions, PartitionTable) {
  EXPECT_GT(Replay("partition_table", FuzzPartitionTable), 0u);
}

TEST(FuzzRegressions, InputField) {
  EXPECT_GT(Replay("input_field", FuzzInputField), 0u);
}
