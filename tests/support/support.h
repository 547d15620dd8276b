// Helpers shared by the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// A fresh empty folder under the build tree, removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// Whether anything stands at path (a link to nothing too).
bool Exists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

// Runs a shell command, returns its exit status and what it printed (stdout and stderr).
int RunCommand(const std::string& command, std::string* output);

// The command's exit status, a colon and what it printed: "0:" for a quiet success.
std::string Shell(const std::string& command);

// Cards made elsewhere: the shell commands of sfdisk, mkfs.fat and mtools
// that make them ($IMG is the card's image), and the run of those commands in
// the image's folder; "0:" when they succeeded.
extern const char kMadeFat16Camera[];  // one FAT16 partition at 2048 over a 64 MB card
extern const char kMadeGpt[];          // a GPT table, one FAT16 volume at 2048
std::string MakeElsewhere(const std::string& image, const std::string& tools);

// The card's one partition, count sectors at first and of sfdisk's type
// ("6", "b"), as sfdisk lists it, and its volume as fsck.fat checks it
// without changing it.
void ExpectJudgedPartition(const TempDir& dir, const std::string& image, uint32_t first,
                           uint32_t count, const std::string& type);

// Copies a file onto the FAT volume at firstSector of the image with mtools
// and back again, expecting both copies to succeed and the text to survive.
void ExpectFileRoundTrip(const TempDir& dir, const std::string& image, uint64_t firstSector);

}  // namespace testsupport
