#include "tool/modes/json_text.h"

#include <cstdio>

#include "tool/command/message.h"

namespace tool {

Json JsonString(const std::string& value) {
  std::string text = "\"";
  for (size_t at = 0; at < value.size();) {
    uint32_t code = 0;
    size_t length = Utf8SequenceAt(value, at, &code);
    char escape[8];
    if (length == 0) {
      // A byte that is no UTF-8 stays visible as the text \xHH.
      std::snprintf(escape, sizeof escape, "\\\\x%02x", static_cast<unsigned char>(value[at]));
      text += escape;
      at += 1;
      continue;
    }
    if (code == '"' || code == '\\') {
      text += '\\';
      text += static_cast<char>(code);
    } else if (code == '\n') {
      text += "\\n";
    } else if (code == '\t') {
      text += "\\t";
    } else if (IsControlCharacter(code)) {
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      text += escape;
    } else {
      text.append(value, at, length);
    }
    at += length;
  }
  return {text + "\""};
}

Json JsonNumber(int64_t value) {
  return {std::to_string(value)};
}

Json JsonBool(bool value) {
  return {value ? "true" : "false"};
}

Json JsonNull() {
  return {"null"};
}

Json JsonArray(const std::vector<Json>& items) {
  std::string text = "[";
  for (size_t i = 0; i < items.size(); ++i) text += (i == 0 ? "" : ", ") + items[i].text;
  return {text + "]"};
}

Json JsonObject(const std::vector<std::pair<std::string, Json>>& fields) {
  std::string text = "{";
  for (size_t i = 0; i < fields.size(); ++i) {
    text += (i == 0 ? "" : ", ") + JsonString(fields[i].first).text + ": " + fields[i].second.text;
  }
  return {text + "}"};
}

}  // namespace tool
