#include "sim/sector_list.h"

#include <cctype>
#include <cstdint>

namespace sim {
namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

bool ParseNumber(const std::string& text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  if (n > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(n);
  return true;
}

}  // namespace

bool ParseSectorList(const std::string& text, std::vector<SectorRange>* ranges,
                     std::string* error) {
  std::vector<SectorRange> found;
  if (!Trim(text).empty()) {
    size_t start = 0;
    while (true) {
      size_t comma = text.find(',', start);
      std::string item = Trim(text.substr(start, comma - start));
      size_t dash = item.find('-');
      SectorRange range{};
      bool ok = dash == std::string::npos
                    ? ParseNumber(item, &range.first) && ParseNumber(item, &range.last)
                    : ParseNumber(Trim(item.substr(0, dash)), &range.first) &&
                          ParseNumber(Trim(item.substr(dash + 1)), &range.last) &&
                          range.first <= range.last;
      if (!ok) {
        *error = "bad sector item \"" + item + "\" (expected N or N-M with N <= M)";
        return false;
      }
      found.push_back(range);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  ranges->insert(ranges->end(), found.begin(), found.end());
  return true;
}

}  // namespace sim
