#include "host/devices/program_address.h"

#include <elf.h>
#include <link.h>

namespace host {
namespace {

constexpr uint64_t kWindow = uint64_t{1} << 32;

struct Search {
  uint32_t address;
  uint32_t length;
  uint8_t* found;
};

// Looks through the writable loadable segments of the first object the
// dynamic linker lists, which is the program itself: a 32-bit value fits a
// segment in at most two ways, one per 4 GB window the segment touches.
int SearchProgram(dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<Search*>(data);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) == 0) continue;
    uint64_t start = info->dlpi_addr + segment.p_vaddr;
    uint64_t end = start + segment.p_memsz;
    for (uint64_t window = start & ~(kWindow - 1); window < end; window += kWindow) {
      uint64_t candidate = window | search->address;
      if (candidate >= start && candidate + search->length <= end) {
        search->found = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(candidate));
        return 1;
      }
    }
  }
  return 1;  // the program alone, never a library
}

}  // namespace

uint8_t* ProgramStaticData(uint32_t address, uint32_t length) {
  Search search{address, length, nullptr};
  dl_iterate_phdr(SearchProgram, &search);
  return search.found;
}

}  // namespace host
