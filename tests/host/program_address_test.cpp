// The native program is position-independent: the 32-bit addresses the
// system passes in registers are mapped back onto its own static data, and
// nothing else, and the program as built carries the hardening a root-run
// disk tool should.
#include "host/devices/program_address.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/support.h"

namespace {

uint8_t staticRecord[32];

uint32_t Low32(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

TEST(ProgramAddress, OnlyTheProgramsOwnStaticDataIsFound) {
  EXPECT_EQ(staticRecord, host::ProgramStaticData(Low32(staticRecord), sizeof staticRecord));
  EXPECT_EQ(staticRecord + 8, host::ProgramStaticData(Low32(staticRecord + 8), 16));

  uint8_t onTheStack[32] = {};
  auto* onTheHeap = new uint8_t[1 << 20];
  EXPECT_EQ(nullptr, host::ProgramStaticData(Low32(onTheStack), 16)) << "the stack";
  EXPECT_EQ(nullptr, host::ProgramStaticData(Low32(onTheHeap + (1 << 19)), 16)) << "the heap";
  EXPECT_EQ(nullptr, host::ProgramStaticData(0, 16));
  delete[] onTheHeap;
}

TEST(ProgramAddress, TheProgramIsPositionIndependentAndHardened) {
  std::string header = testsupport::Shell(std::string("readelf -h ") + DUNMORE_EXE);
  std::string dynamic = testsupport::Shell(std::string("readelf -d ") + DUNMORE_EXE);
  std::string segments = testsupport::Shell(std::string("readelf -lW ") + DUNMORE_EXE);
  EXPECT_NE(std::string::npos, header.find("DYN (Position-Independent Executable file)")) << header;
  EXPECT_NE(std::string::npos, dynamic.find("BIND_NOW")) << dynamic;
  EXPECT_NE(std::string::npos, dynamic.find("PIE")) << dynamic;
  EXPECT_NE(std::string::npos, segments.find("GNU_RELRO")) << segments;
}

}  // namespace
