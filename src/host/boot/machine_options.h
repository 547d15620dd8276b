// What the machine boots from: the card and its geometry, the machine file,
// the clock, the fixed disk the user allows, the terminal and the screen
// dump. Each is kept as the user gave it, so that a refusal names it so
// ("--clock 12x", "card /dev/sdc1", "DUNMORE_CLOCK=12x"); the values have
// been read (ParseGeometry, ParseClock) before the machine is booted.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// One setting: its names and its value.
struct Setting {
  const char* option;    // "--geometry"; "card" for the argument
  const char* variable;  // "DUNMORE_GEOMETRY"
  std::string value;     // empty: not set
  bool onCommandLine = false;
  // An option that takes no value (--boot): given, its value is "1".
  bool flag = false;

  bool given() const { return !value.empty(); }
  // How a refusal names it with a value: as the user gave it, the option
  // (always, for an option without a variable) or the variable.
  std::string Shown(const std::string& text) const;
  std::string Shown() const { return Shown(value); }
};

// How the cards' media are opened.
enum class MediaUse {
  kWrite,  // for reading and writing; a block device O_EXCL, and a missing
           // image made at the card's first use
  kCheck,  // for reading alone, but held as for a write (a block device
           // O_EXCL, an image's lock): the same refusals, nothing written
           // and nothing made
  kLook,   // for reading alone, held by nothing, nothing made
};

struct MachineOptions {
  Setting card{"card", "DUNMORE_CARD", {}};
  Setting geometry{"--geometry", "DUNMORE_GEOMETRY", {}};
  Setting file{"--machine", "DUNMORE_MACHINE", {}};  // the machine file
  Setting clock{"--clock", "DUNMORE_CLOCK", {}};
  Setting fixedDisk{"--fixed-disk", "DUNMORE_FIXED_DISK", {}};
  Setting screenDump{nullptr, "DUNMORE_SCREEN_DUMP", {}};
  Setting terminal{nullptr, "TERM", {}};
  MediaUse media = MediaUse::kWrite;
  // A geometry that the program on top read from its own records for the
  // card the card setting names (the undo file a restore puts back), as
  // IDENTIFY DEVICE words 1, 3 and 6; all 0: none. See ResolveGeometry.
  uint16_t recordedGeometry[3] = {0, 0, 0};
};

// "CxHxS", each from 1 to 65535, as IDENTIFY DEVICE words 1, 3 and 6.
bool ParseGeometry(const std::string& text, uint16_t values[3]);

// Why a physical geometry cannot be addressed by the card disk, or empty
// when it can (the words are read as the card disk reads them, signed).
std::string GeometryFault(long cylinders, long heads, long sectors);

// The geometry a CompactFlash card of this many 512-byte sectors reports of
// itself, for a card that says none: up to 256 MB, 32 sectors per track and
// the fewest heads (1, 2, 4, 8 or 16) that keep the cylinders at 512 or
// fewer, as the small cards have it (490 x 8 x 32 for 64 MB); above, 16
// heads of 63 sectors and sectors / 1008 cylinders, at most 16383. False
// when the card holds less than one track of 32 sectors.
bool DerivedGeometry(uint64_t sectors, uint16_t values[3]);

// Where a card's geometry came from.
enum class GeometrySource {
  kNone,
  kIdentify,  // the card's own answer to IDENTIFY DEVICE
  kCardKey,   // a machine file's card key, which the simulated card answers with
  kOption,    // the geometry setting
  kRecorded,  // MachineOptions::recordedGeometry
  kDerived,   // DerivedGeometry, from the medium's size
};

// What may give a card's geometry, each null (or 0) when it gives none.
struct GeometryCandidates {
  const uint16_t* card = nullptr;  // the card's own answer, or its card key's
  GeometrySource cardSource = GeometrySource::kIdentify;
  const uint16_t* option = nullptr;
  const uint16_t* recorded = nullptr;
  uint64_t sectors = 0;  // the medium's size, for one derived from it
};

// The one rule for a card's geometry: the first that gives one of the card
// itself, the geometry setting, the recorded geometry, and the geometry a
// card of the medium's size reports. Fills values and says which; kNone when
// none gives one.
GeometrySource ResolveGeometry(const GeometryCandidates& from, uint16_t values[3]);

// Seconds since 1970-01-01 00:00 UTC in plain decimal, 0 to 4294967295:
// the new volume's serial number is a 32-bit field.
bool ParseClock(const std::string& text, uint32_t* seconds);

}  // namespace host
