// mirt.vxd: the ATA pass-through driver for a Windows process under Wine.
//
// Opening "\\.\MIRT.VXD" loads this module; loading it reads the cards from
// the registry and opens their media, and refuses to load (so the open fails)
// when the driver's key is missing or a card cannot be used, as a driver
// that is not installed cannot be opened. Every DeviceIoControl on any handle
// of the driver reaches the one PassThroughDriver of the process.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cards/card_registry.h"
#include "sim/ata_card.h"
#include "sim/pass_through_driver.h"
#include "vxd/driver_entry.h"

namespace {

// Built when the module loads and kept until the process ends: Wine keeps a
// driver module loaded once it has been opened.
struct LoadedDriver {
  std::vector<std::unique_ptr<sim::AtaCard>> cards;
  std::vector<sim::AtaCard*> pointers;
  std::unique_ptr<sim::PassThroughDriver> driver;
};

LoadedDriver* loaded = nullptr;

bool Load() {
  cards::DriverRegistry registry;
  std::string problem;
  if (!cards::ReadDriverRegistry(&registry, &problem)) {
    std::fprintf(stderr, "%s\n", problem.c_str());
    return false;
  }
  if (!registry.installed) return false;
  auto driver = std::make_unique<LoadedDriver>();
  for (const sim::CardSettings& settings : registry.cards) {
    auto card = std::make_unique<sim::AtaCard>(settings);
    std::string error;
    if (!card->OpenMedium(&error)) {
      std::fprintf(stderr, "%s: the image cannot be opened: %s\n", settings.image.c_str(),
                   error.c_str());
      return false;
    }
    driver->pointers.push_back(card.get());
    driver->cards.push_back(std::move(card));
  }
  driver->driver = std::make_unique<sim::PassThroughDriver>(driver->pointers);
  loaded = driver.release();
  return true;
}

void Unload() {
  delete loaded;
  loaded = nullptr;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) return Load() ? TRUE : FALSE;
  // At process exit the system closes the media and drops their locks
  // itself; only an explicit unload tears the cards down here.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) Unload();
  return TRUE;
}

BOOL WINAPI MirtDeviceIoControl(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED) {
  bool done = loaded != nullptr && loaded->driver->Control(code, in, inSize, out, outSize);
  if (returned != nullptr) *returned = done ? outSize : 0;
  return done ? TRUE : FALSE;
}

sim::AtaCard* const* WINAPI MirtCards(DWORD* count) {
  if (loaded == nullptr) {
    *count = 0;
    return nullptr;
  }
  *count = static_cast<DWORD>(loaded->pointers.size());
  return loaded->pointers.data();
}

}  // extern "C"

// Both exports must keep the driver entry signatures the callers assume.
static_assert(std::is_same<decltype(&MirtDeviceIoControl), vxd::DeviceIoEntry>::value, "");
static_assert(std::is_same<decltype(&MirtCards), vxd::CardsAccessor>::value, "");
