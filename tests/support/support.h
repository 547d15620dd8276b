// Helpers shared by the tests.
#pragma once

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
void WriteFile(const std::string& path, const std::string& content);

// Runs a shell command, returns its exit status and what it printed (stdout and stderr).
int RunCommand(const std::string& command, std::string* output);

}  // namespace testsupport
