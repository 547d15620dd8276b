#include "host/registry/regedit4.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "common/little_endian.h"

namespace host {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

size_t SkipBlanks(const std::string& s, size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// True when nothing but blanks and perhaps a ';' comment follows `pos`.
bool OnlyCommentFrom(const std::string& s, size_t pos) {
  pos = SkipBlanks(s, pos);
  return pos == s.size() || s[pos] == ';';
}

// The file split at CR LF, lone CR or lone LF, as the import reads it.
std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

class Parser {
 public:
  Parser(const std::string& text, const std::string& name, RegistryTree* tree)
      : lines_(SplitLines(text)), name_(name), tree_(tree) {}

  bool Run(std::string* error);

 private:
  bool Fail(const std::string& what) {
    error_ = name_ + ":" + std::to_string(line_ + 1) + ": " + what;
    return false;
  }

  bool KeyLine(const std::string& line, size_t pos);
  bool ValueLine(const std::string& line, size_t pos);
  bool ReadQuoted(const std::string& line, size_t* pos, std::string* out);
  bool ResolveKeyName(const std::string& keyName, RegKey** root, std::vector<std::string>* parts);
  bool DwordData(const std::string& data, RegValue* value);
  bool HexData(std::string data, RegValue* value);
  int HexBytes(const std::string& s, std::vector<uint8_t>* out, size_t* rest);

  std::vector<std::string> lines_;
  std::string name_;
  RegistryTree* tree_;
  size_t line_ = 0;
  RegKey* key_ = nullptr;  // the key that value lines go to, if any
  std::string error_;
};

bool Parser::Run(std::string* error) {
  // The header line, exactly; only blanks may come before it.
  if (lines_.empty() || lines_[0].substr(SkipBlanks(lines_[0], 0)) != "REGEDIT4") {
    Fail("the first line must be REGEDIT4");
    *error = error_;
    return false;
  }
  for (line_ = 1; line_ < lines_.size(); ++line_) {
    const std::string& line = lines_[line_];
    size_t pos = SkipBlanks(line, 0);
    bool ok = true;
    if (pos == line.size() || line[pos] == ';' || line[pos] == '#') continue;
    if (line[pos] == '[') {
      ok = KeyLine(line, pos + 1);
    } else if (line[pos] == '@' || line[pos] == '"') {
      ok = ValueLine(line, pos);
    } else {
      ok = Fail("expected a [key], a \"value\"=, @= or a comment");
    }
    if (!ok) {
      *error = error_;
      return false;
    }
  }
  return true;
}

bool Parser::ResolveKeyName(const std::string& keyName, RegKey** root,
                            std::vector<std::string>* parts) {
  size_t slash = keyName.find('\\');
  std::string rootName = keyName.substr(0, slash);
  *root = tree_->RootByName(rootName);
  if (*root == nullptr) return Fail("unknown root key \"" + rootName + "\"");
  parts->clear();
  if (slash == std::string::npos) return true;
  std::string path = keyName.substr(slash + 1);
  // One trailing backslash is harmless; any other empty component is not a key name.
  if (!path.empty() && path.back() == '\\') path.pop_back();
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end == start) return Fail("empty key name in \"" + keyName + "\"");
    parts->push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

bool Parser::KeyLine(const std::string& line, size_t pos) {
  key_ = nullptr;
  if (pos < line.size() && IsBlank(line[pos])) return Fail("blank after '[' in a key line");
  size_t close = line.rfind(']');
  if (close == std::string::npos || close < pos) return Fail("key line without ']'");
  std::string keyName = line.substr(pos, close - pos);
  bool remove = !keyName.empty() && keyName[0] == '-';
  if (remove) keyName.erase(0, 1);
  RegKey* root = nullptr;
  std::vector<std::string> parts;
  if (!ResolveKeyName(keyName, &root, &parts)) return false;
  if (!remove) {
    key_ = root;
    for (const std::string& part : parts) key_ = key_->Create(part);
    return true;
  }
  if (parts.empty()) return Fail("a root key cannot be deleted");
  RegKey* parent = root;
  for (size_t i = 0; i + 1 < parts.size() && parent != nullptr; ++i)
    parent = parent->Find(parts[i]);
  // Deleting a key that is not there is no error.
  if (parent != nullptr) parent->subkeys.erase(parts.back());
  return true;
}

// Reads the text of a quoted string whose opening quote is before *pos, and
// leaves *pos after the closing quote. The escapes are \\ \" \n \r; any
// other escaped character stands for itself; \0 is refused.
bool Parser::ReadQuoted(const std::string& line, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos;
  for (; i < line.size() && line[i] != '"'; ++i) {
    if (line[i] != '\\') {
      out->push_back(line[i]);
      continue;
    }
    if (++i == line.size()) return Fail("backslash at the end of a string");
    switch (line[i]) {
      case 'n':
        out->push_back('\n');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case '0':
        return Fail("\\0 in a string");
      default:
        out->push_back(line[i]);
        break;
    }
  }
  if (i == line.size()) return Fail("string without its closing '\"'");
  *pos = i + 1;
  return true;
}

bool Parser::ValueLine(const std::string& line, size_t pos) {
  RegValue value;
  if (line[pos] == '@') {
    ++pos;
  } else {
    ++pos;
    if (!ReadQuoted(line, &pos, &value.name)) return false;
  }
  pos = SkipBlanks(line, pos);
  if (pos == line.size() || line[pos] != '=') return Fail("expected '=' after the value name");
  pos = SkipBlanks(line, pos + 1);
  size_t end = line.size();
  while (end > pos && IsBlank(line[end - 1])) --end;
  std::string data = line.substr(pos, end - pos);
  if (key_ == nullptr) return Fail("value outside of any key");

  if (!data.empty() && data[0] == '-') {
    if (!OnlyCommentFrom(data, 1)) return Fail("unexpected text after =-");
    key_->values.erase(value.name);
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t at = 1;
    std::string text;
    if (!ReadQuoted(data, &at, &text)) return false;
    if (!OnlyCommentFrom(data, at)) return Fail("unexpected text after the string");
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
  } else if (data.compare(0, 6, "dword:") == 0) {
    if (!DwordData(data.substr(6), &value)) return false;
  } else if (data.compare(0, 4, "hex:") == 0) {
    value.type = REG_BINARY;
    if (!HexData(data.substr(4), &value)) return false;
  } else if (data.compare(0, 4, "hex(") == 0) {
    // hex(N): with N the type in hexadecimal digits, without a 0x prefix.
    std::string rest = data.substr(4);
    if (rest.empty() || (rest.size() > 1 && std::tolower(rest[1]) == 'x')) {
      return Fail("bad type in hex(...)");
    }
    errno = 0;
    char* stop = nullptr;
    unsigned long type = std::strtoul(rest.c_str(), &stop, 16);
    size_t used = static_cast<size_t>(stop - rest.c_str());
    if (used + 1 >= rest.size() || rest[used] != ')' || rest[used + 1] != ':' || errno == ERANGE ||
        type > 0xFFFFFFFFul) {
      return Fail("bad type in hex(...)");
    }
    value.type = static_cast<uint32_t>(type);
    if (!HexData(rest.substr(used + 2), &value)) return false;
  } else {
    return Fail("unknown value type (expected \"text\", dword:, hex: or hex(N):)");
  }
  std::string valueName = value.name;
  key_->values[valueName] = std::move(value);
  return true;
}

bool Parser::DwordData(const std::string& data, RegValue* value) {
  size_t pos = SkipBlanks(data, 0);
  if (pos == data.size()) return Fail("dword: without digits");
  size_t digits = pos;
  while (digits < data.size() && IsHexDigit(data[digits])) ++digits;
  if (digits - pos > 8) return Fail("dword: takes at most 8 hex digits");
  if (!OnlyCommentFrom(data, digits)) return Fail("dword: takes only hex digits");
  uint32_t number =
      static_cast<uint32_t>(std::strtoul(data.substr(pos, digits - pos).c_str(), nullptr, 16));
  value->type = REG_DWORD;
  value->data.assign(4, 0);
  PutLe32(value->data.data(), number);
  return true;
}

// Reads comma-separated bytes. Returns 1 when the list ends on this line, 2
// when it goes on after a trailing backslash (*rest is then what follows the
// backslash), 0 when the text is not such a list.
int Parser::HexBytes(const std::string& s, std::vector<uint8_t>* out, size_t* rest) {
  const char* start = s.c_str();
  const char* at = start;
  while (*at != '\0') {
    char* end = nullptr;
    unsigned long byte = std::strtoul(at, &end, 16);
    if (byte > 0xff) return 0;
    if (end == at) {
      while (IsBlank(*end)) ++end;
      if (*end == '\\') {
        *rest = static_cast<size_t>(end + 1 - start);
        return 2;
      }
      return *end == ';' ? 1 : 0;
    }
    out->push_back(static_cast<uint8_t>(byte));
    if (*end != '\0' && *end != ',') {
      while (IsBlank(*end)) ++end;
      return (*end == '\0' || *end == ';') ? 1 : 0;
    }
    if (*end != '\0') ++end;
    at = end;
  }
  return 1;
}

bool Parser::HexData(std::string data, RegValue* value) {
  if (!data.empty()) {
    for (;;) {
      size_t rest = 0;
      int result = HexBytes(data, &value->data, &rest);
      if (result == 0) return Fail("bad hex byte list");
      if (result == 1) break;
      if (!OnlyCommentFrom(data, rest)) return Fail("unexpected text after '\\'");
      // The list goes on at the next line that is not blank or a comment.
      bool more = false;
      while (line_ + 1 < lines_.size()) {
        ++line_;
        const std::string& next = lines_[line_];
        size_t pos = SkipBlanks(next, 0);
        if (pos == next.size() || next[pos] == ';') continue;
        if (!IsHexDigit(next[pos])) return Fail("continued hex list must go on with a hex digit");
        data = next.substr(pos);
        more = true;
        break;
      }
      if (!more) break;
    }
  }
  // Text types read from hex carry their terminating zero.
  bool text = value->type == REG_SZ || value->type == REG_EXPAND_SZ || value->type == REG_MULTI_SZ;
  if (text && !value->data.empty() && value->data.back() != 0) value->data.push_back(0);
  return true;
}

}  // namespace

bool ParseRegedit4(const std::string& text, const std::string& name, RegistryTree* tree,
                   std::string* error) {
  Parser parser(text, name, tree);
  return parser.Run(error);
}

}  // namespace host
