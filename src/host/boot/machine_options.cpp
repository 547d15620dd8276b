#include "host/boot/machine_options.h"

#include <utility>

#include "disk/geometry_rule.h"

namespace host {
namespace {

// IDENTIFY DEVICE words are 16 bits wide.
constexpr unsigned long kMaxGeometryValue = 0xFFFF;

std::string GeometryText(long c, long h, long s) {
  return std::to_string(c) + " x " + std::to_string(h) + " x " + std::to_string(s);
}

}  // namespace

std::string Setting::Shown(const std::string& text) const {
  if (flag && onCommandLine) return option;
  if (!onCommandLine && variable != nullptr) return std::string(variable) + "=" + text;
  return std::string(option) + " " + text;
}

bool ParseGeometry(const std::string& text, uint16_t values[3]) {
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) {
      if (at >= text.size() || (text[at] != 'x' && text[at] != 'X')) return false;
      ++at;
    }
    size_t start = at;
    unsigned long number = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 6) {
      number = number * 10 + static_cast<unsigned long>(text[at] - '0');
      ++at;
    }
    if (at == start || number == 0 || number > kMaxGeometryValue) return false;
    values[i] = static_cast<uint16_t>(number);
  }
  return at == text.size();
}

std::string GeometryFault(long cylinders, long heads, long sectors) {
  int32_t c = static_cast<int16_t>(cylinders);
  int32_t h = static_cast<int16_t>(heads);
  int32_t s = static_cast<int16_t>(sectors);
  switch (CheckCardGeometry(c, h, s)) {
    case kGeometryEmpty:
      if (c < 0 || h < 0 || s < 0) {
        return "IDENTIFY DEVICE words of 32768 and more are read as negative numbers, so each "
               "may be at most 32767";
      }
      return "a geometry needs cylinders, heads and sectors per track";
    case kGeometryTooManySectors:
      return "more than " + std::to_string(kMaxEntrySectors) +
             " sectors per track, which a CHS address cannot name";
    case kGeometryTooManyHeads:
      return "its translation needs more than " + std::to_string(kMaxEntryHeads) +
             " heads, which a partition entry cannot name";
    case kGeometryCylindersOutgrow: {
      int32_t lc = 0, lh = 0, ls = 0;
      TranslateCardGeometry(c, h, s, &lc, &lh, &ls);
      return "its translation, " + GeometryText(lc, lh, ls) +
             ", has more cylinders than the card, so no logical address lands where it should";
    }
    default:
      return std::string();
  }
}

bool DerivedGeometry(uint64_t sectors, uint16_t values[3]) {
  constexpr uint64_t kSmallTrack = 32, kLargeTrack = 63, kMostHeads = 16;
  constexpr uint64_t kSmallCylinders = 512, kMostCylinders = 16383;
  if (sectors < kSmallTrack) return false;
  if (sectors <= kMostHeads * kSmallTrack * 2 * kSmallCylinders) {
    uint64_t heads = 1;
    while (heads < kMostHeads && sectors / (heads * kSmallTrack) > kSmallCylinders) heads *= 2;
    values[0] = static_cast<uint16_t>(sectors / (heads * kSmallTrack));
    values[1] = static_cast<uint16_t>(heads);
    values[2] = static_cast<uint16_t>(kSmallTrack);
    return true;
  }
  uint64_t cylinders = sectors / (kMostHeads * kLargeTrack);
  values[0] = static_cast<uint16_t>(cylinders < kMostCylinders ? cylinders : kMostCylinders);
  values[1] = static_cast<uint16_t>(kMostHeads);
  values[2] = static_cast<uint16_t>(kLargeTrack);
  return true;
}

GeometrySource ResolveGeometry(const GeometryCandidates& from, uint16_t values[3]) {
  const std::pair<const uint16_t*, GeometrySource> given[] = {
      {from.card, from.cardSource},
      {from.option, GeometrySource::kOption},
      {from.recorded, GeometrySource::kRecorded}};
  for (const auto& [words, source] : given) {
    if (words == nullptr || (words[0] == 0 && words[1] == 0 && words[2] == 0)) continue;
    for (int i = 0; i < 3; ++i) values[i] = words[i];
    return source;
  }
  return DerivedGeometry(from.sectors, values) ? GeometrySource::kDerived : GeometrySource::kNone;
}

bool ParseClock(const std::string& text, uint32_t* seconds) {
  // Plain decimal digits, at most ten of them, no sign and no blanks.
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  *seconds = static_cast<uint32_t>(value);
  return true;
}

}  // namespace host
