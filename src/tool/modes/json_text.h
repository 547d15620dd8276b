// JSON text built from values: enough for the listing and the plan. A value
// is its finished text; objects keep their fields in the order given.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tool {

struct Json {
  std::string text;
};

// A string value: valid UTF-8 as it is, control characters as escapes, and
// each byte that is not UTF-8 as the text \xHH.
Json JsonString(const std::string& value);
Json JsonNumber(int64_t value);
Json JsonBool(bool value);
Json JsonNull();
Json JsonArray(const std::vector<Json>& items);
Json JsonObject(const std::vector<std::pair<std::string, Json>>& fields);

}  // namespace tool
