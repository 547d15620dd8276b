// The layers of the tree. The system's folders are the same code on
// Windows: they include the Win32 subset and the neutral headers of common/,
// never the host, the device models, the card-key reader or the tool. The
// device models include nothing of the host or the tool, the simulated
// machine nothing of the tool on top of it, and no production file includes
// the test hooks.
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
  // The simulated machine: the system's geometry rule, which its boot
  // applies to a geometry the user gives, and the CHS widths behind it;
  // never the tool that runs on top of it.
  rules.push_back({"host",
                   {"host", "win32", "common", "sim", "cards"},
                   {"disk/geometry_rule.h", "disk/packed_chs.h"}});
  // The device models stand alone: the Wine drivers run them too.
  rules.push_back({"sim", {"sim", "common"}, {}});
  // The Linux tool is the top: it may use all of the above.
  std::set<std::string> everything = system;
  everything.insert({"host", "sim", "cards", "tool"});
  rules.push_back({"tool", everything, {}});

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

// Lines of code in a folder of src, below it too: neither blank nor only a
// comment.
int CodeLines(const std::string& folder) {
  int lines = 0;
  const std::regex code(R"re(^\s*($|//))re");
  for (const auto& entry :
       fs::recursive_directory_iterator(fs::path(DUNMORE_SOURCE_DIR) / "src" / folder)) {
    const std::string extension = entry.path().extension().string();
    if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);) lines += std::regex_search(line, code) ? 0 : 1;
  }
  return lines;
}

TEST(Layering, TheMachineIsNotTheTool) {
  // The simulated machine is a small part of the tree; the tool's modes,
  // undo file and finishing step live above it, not in it.
  const int host = CodeLines("host");
  const int all = CodeLines("");
  EXPECT_GT(host, 1000);
  EXPECT_LE(host * 100, all * 40) << host << " of " << all << " lines are the machine's";
}

}  // namespace
