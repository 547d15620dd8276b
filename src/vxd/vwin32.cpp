// vwin32.vxd: the VWIN32 system device's DOS IOCTL service for a Windows
// process under Wine, in place of Wine's own, which refuses the physical
// volume lock.
//
// The drive map and the volume lock concern the cards of the pass-through
// driver: this device works on the very card objects mirt.vxd opened, so the
// lock is on the medium whose sectors that driver moves. Without mirt.vxd in
// the process every drive belongs to the fixed disk.
#include <windows.h>

#include <memory>
#include <vector>

#include "sim/vwin32_device.h"
#include "vxd/driver_entry.h"

namespace {

// One device for the process: the entry is not told which handle a call
// came through. Made on the first call, when the pass-through driver has
// been opened already.
sim::Vwin32Device* device = nullptr;

std::vector<sim::AtaCard*> PassThroughCards() {
  std::vector<sim::AtaCard*> cards;
  HMODULE driver = GetModuleHandleA(vxd::kPassThroughModule);
  if (driver == nullptr) return cards;
  auto accessor = reinterpret_cast<vxd::CardsAccessor>(
      reinterpret_cast<void*>(GetProcAddress(driver, vxd::kCardsExport)));
  if (accessor == nullptr) return cards;
  DWORD count = 0;
  sim::AtaCard* const* list = accessor(&count);
  if (list != nullptr) cards.assign(list, list + count);
  return cards;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // Closing the device gives back the locks taken through it; at process
  // exit the system drops them with the media's handles instead, and the
  // cards may be gone already.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    delete device;
    device = nullptr;
  }
  return TRUE;
}

BOOL WINAPI Vwin32DeviceIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED) {
  if (device == nullptr) device = new sim::Vwin32Device(PassThroughCards());
  bool done = device->Control(code, in, inSize, out, outSize);
  if (returned != nullptr) *returned = done ? outSize : 0;
  return done ? TRUE : FALSE;
}

}  // extern "C"

static_assert(std::is_same<decltype(&Vwin32DeviceIoControl), vxd::DeviceIoEntry>::value, "");
