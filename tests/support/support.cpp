#include "support/support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/image.h"

namespace testsupport {

TempDir::TempDir() {
  char pattern[] = "/tmp/dunmore-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::string command = "rm -rf '" + path_ + "'";
  if (std::system(command.c_str()) != 0) {
    // Leaving a temporary folder behind is not worth failing a test for.
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

int RunCommand(const std::string& command, std::string* output) {
  std::string full = command + " 2>&1";
  FILE* pipe = popen(full.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, n);
  int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Exists(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

std::string Shell(const std::string& command) {
  std::string output;
  int status = RunCommand(command, &output);
  return std::to_string(status) + ":" + output;
}

const char kMadeFat16Camera[] =
    "echo 'start=2048, type=6' | sfdisk -q $IMG && "
    "mkfs.fat -F 16 -n CAMERA --offset 2048 $IMG 61696";
const char kMadeGpt[] =
    "echo 'start=2048, size=100000, type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7'"
    " | sfdisk -q --label gpt $IMG && mkfs.fat -F 16 -n GPTDATA --offset 2048 $IMG 50000";

std::string MakeElsewhere(const std::string& image, const std::string& tools) {
  const std::string folder = image.substr(0, image.rfind('/'));
  const std::string name = image.substr(image.rfind('/') + 1);
  return Shell("cd '" + folder + "' && IMG='" + name + "' && (" + tools + ") >/dev/null 2>&1");
}

void ExpectJudgedPartition(const TempDir& dir, const std::string& image, uint32_t first,
                           uint32_t count, const std::string& type) {
  char entry[80];
  std::snprintf(entry, sizeof entry, "start=%12u, size=%12u, type=", first, count);
  std::string sfdisk = Shell("sfdisk -d '" + image + "'");
  EXPECT_NE(std::string::npos, sfdisk.find(entry + type + "\n")) << sfdisk;
  std::string volume = dir.File("volume.img");
  ExtractVolume(image, first, count, volume);
  std::string fsck = Shell("fsck.fat -n '" + volume + "'");
  EXPECT_EQ('0', fsck[0]) << fsck;
  unlink(volume.c_str());
}

void ExpectFileRoundTrip(const TempDir& dir, const std::string& image, uint64_t firstSector) {
  WriteFile(dir.File("hello.txt"), "a file on the card\n");
  std::string mtools =
      "MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "@@" + std::to_string(firstSector * 512) + "' ";
  EXPECT_EQ("0:", Shell(mtools + "'" + dir.File("hello.txt") + "' ::HELLO.TXT"));
  EXPECT_EQ("0:", Shell(mtools + "::HELLO.TXT '" + dir.File("back.txt") + "'"));
  EXPECT_EQ("a file on the card\n", ReadFile(dir.File("back.txt")));
}

}  // namespace testsupport
