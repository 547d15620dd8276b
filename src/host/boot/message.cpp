#include "host/boot/message.h"

#include <cstdio>

namespace host {

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

}  // namespace host
