// The seam between the system and the native host. The system's folders are
// the same code on Windows: they include the Win32 subset and the neutral
// headers of common/, never the host, the device models or the card-key
// reader. The host uses of the system only the interfaces meant for it, and
// no production file includes the test hooks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;

const std::set<std::string> kSystemFolders = {"app",       "console", "device",
                                              "discovery", "disk",    "format"};

// The folder of the tree an include names ("disk" for "disk/card_disk.h").
std::string FolderOf(const std::string& include) {
  return include.substr(0, include.find('/'));
}

// Every file of src/<folder>, below it too, with the quoted includes it has.
std::vector<std::pair<std::string, std::vector<std::string>>> Includes(const std::string& folder) {
  std::vector<std::pair<std::string, std::vector<std::string>>> files;
  const std::regex include(R"re(^\s*#\s*include\s*"([^"]+)")re");
  for (const auto& entry :
       fs::recursive_directory_iterator(fs::path(DUNMORE_SOURCE_DIR) / "src" / folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path());
    std::vector<std::string> found;
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
      if (std::regex_search(line, match, include)) found.push_back(match[1]);
    }
    files.emplace_back(entry.path().string(), found);
  }
  return files;
}

TEST(Layering, TheSystemAndTheHostMeetOnlyAtTheirInterfaces) {
  struct Rule {
    std::string folder;
    std::set<std::string> folders;  // whole folders it may include
    std::set<std::string> headers;  // single headers of other folders
  };
  std::set<std::string> system = kSystemFolders;
  system.insert({"win32", "common"});
  std::vector<Rule> rules;
  for (const std::string& folder : kSystemFolders) rules.push_back({folder, system, {}});
  // The host: the system's entry for the native main, the geometry rule
  // the boot applies to a geometry the user gives, the byte layouts and
  // partition types of the master boot record and the FAT boot sector that
  // the finishing step (host/finish) edits, and the report of what the system itself read and
  // planned, from which the runs without the screens (host/modes) list a
  // card and print the plan of "1", so that no partition table is read and
  // no type is named a second time here.
  rules.push_back(
      {"host",
       {"host", "win32", "common", "sim", "cards"},
       {"app/run_utility.h", "app/card_report.h", "disk/geometry_rule.h", "disk/packed_chs.h",
        "disk/partition_list.h", "disk/raw_partition_entry.h", "format/fat_layout.h"}});

  int files = 0;
  for (const Rule& rule : rules) {
    for (const auto& [file, includes] : Includes(rule.folder)) {
      ++files;
      for (const std::string& include : includes) {
        bool allowed = rule.folders.count(FolderOf(include)) != 0 || rule.headers.count(include);
        EXPECT_TRUE(allowed) << file << " includes " << include;
        EXPECT_NE("host/testing.h", include) << file << " includes the test hooks";
      }
    }
  }
  EXPECT_GT(files, 60);  // the tree was found
}

}  // namespace
