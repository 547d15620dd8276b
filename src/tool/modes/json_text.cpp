#include "tool/modes/json_text.h"

#include <cstdio>

namespace tool {

Json JsonString(const std::string& value) {
  std::string text = "\"";
  for (unsigned char c : value) {
    if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      // Control characters as escapes; other bytes (a path's UTF-8) as they are.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      text += escape;
    } else {
      text += static_cast<char>(c);
    }
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
