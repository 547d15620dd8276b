// The 32-bit addresses the system passes in registers, as on Windows 9x,
// mapped back onto this process. The native program is position-independent
// and its data may lie anywhere in a 64-bit address space; the system keeps
// every record whose address travels in a register in its static storage,
// so an address names a place in the program's own writable data or nothing.
#pragma once

#include <cstdint>

namespace host {

// The place in the program's writable data segments whose address has the
// low 32 bits given, with length bytes of the segment from there; null when
// no such place exists (a value cut from a stack or heap address, or 0).
uint8_t* ProgramStaticData(uint32_t address, uint32_t length);

}  // namespace host
