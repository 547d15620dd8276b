#include "tool/command/message.h"

#include <cerrno>
#include <cstring>

namespace tool {

size_t Utf8SequenceAt(const std::string& text, size_t at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  uint32_t value = 0, least = 0;
  if (lead < 0x80) {
    *code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(at + i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

std::string Escaped(const std::string& text) {
  std::string shown;
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    size_t length = Utf8SequenceAt(text, at, &code);
    if (length != 0 && !IsControlCharacter(code)) {
      shown.append(text, at, length);
      at += length;
      continue;
    }
    // A control character byte by byte, an invalid byte alone.
    for (size_t end = at + (length == 0 ? 1 : length); at < end; ++at) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[at]));
      shown += hex;
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
