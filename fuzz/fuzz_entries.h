// The entry points of the fuzz targets: each takes one input of any bytes
// and length, runs it through a part of the system that reads what the
// machine or the user hands it, and aborts when a property that must hold
// for every input is broken. libFuzzer drives them in the fuzz build; the
// regression test replays the kept inputs through them in the normal build.
#pragma once

#include <cstddef>
#include <cstdint>

// The REGEDIT4 machine-file parser.
int FuzzRegedit4(const uint8_t* data, size_t size);
// The registry scan over a machine whose registry is the input as a
// REGEDIT4 file.
int FuzzRegistryScan(const uint8_t* data, size_t size);
// The start-up's reading of a card: geometry, image and MBR from the input.
int FuzzPartitionTable(const uint8_t* data, size_t size);
// The one-character input field under any key sequence.
int FuzzInputField(const uint8_t* data, size_t size);

// Aborts with the property's text on standard error when it does not hold;
// active in every build, unlike assert.
#define FUZZ_CHECK(condition) \
  ((condition) ? (void)0 : FuzzCheckFailed(#condition, __FILE__, __LINE__))
[[noreturn]] void FuzzCheckFailed(const char* condition, const char* file, int line);
