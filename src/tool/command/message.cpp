#include "tool/command/message.h"

#include <cerrno>
#include <cstring>

namespace tool {

std::string Escaped(const std::string& text) {
  std::string shown;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char code[5];
      std::snprintf(code, sizeof code, "\\x%02x", byte);
      shown += code;
    } else {
      shown += c;
    }
  }
  return shown;
}

void Say(const std::string& line) {
  std::fprintf(stderr, "dunmore: %s\n", Escaped(line).c_str());
  std::fflush(stderr);
}

void Notes::SayAll() {
  for (const std::string& line : lines) Say(line);
  lines.clear();
}

bool OutputWritten(FILE* out, const char* name) {
  errno = 0;
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  // A stream that failed earlier keeps no errno of its own: the failure is
  // what the last write met, or else unknown.
  Say(std::string(name) + ": cannot be written" +
      (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string()));
  return false;
}

}  // namespace tool
