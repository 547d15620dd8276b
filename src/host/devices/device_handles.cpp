// The two device handles of the simulated machine: the ATA pass-through
// driver ("\\.\MIRT.VXD") and VWIN32 ("\\.\vwin32"), reached through
// CreateFileA, DeviceIoControl and CloseHandle.
//
// The cards come from the machine's registry, under
// HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MIRT\Cards, one
// subkey per card named by its I/O base. They are read when the first device
// handle opens and dropped when the last one closes; every handle open in
// between sees the same card objects, so the volume lock taken through VWIN32
// is on the medium that the pass-through driver reads and writes.
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cards/card_registry.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/devices/program_address.h"
#include "host/devices/write_signals.h"
#include "host/host.h"
#include "host/machine_hooks.h"
#include "sim/ata_card.h"
#include "sim/pass_through_driver.h"
#include "sim/vwin32_device.h"
#include "win32/win32.h"

namespace host {
namespace {

constexpr char kPassThroughName[] = "\\\\.\\MIRT.VXD";
constexpr char kVwin32Name[] = "\\\\.\\vwin32";

// The cards of the machine while any device handle is open.
struct CardSet {
  bool driverInstalled = false;
  bool usable = true;  // false when a card key could not be used
  std::vector<std::unique_ptr<sim::AtaCard>> cards;

  std::vector<sim::AtaCard*> Pointers() const {
    std::vector<sim::AtaCard*> out;
    for (const auto& card : cards) out.push_back(card.get());
    return out;
  }
};

struct DeviceHandle {
  std::unique_ptr<sim::PassThroughDriver> driver;  // one of the two is set
  std::unique_ptr<sim::Vwin32Device> vwin32;
};

std::unique_ptr<CardSet> cardSet;
std::vector<std::unique_ptr<DeviceHandle>> openHandles;

// The power cut a card's "KillAtWrite" asks for: the process ends at once,
// with no chance to finish, flush or clean up anything.
void CutPower() {
  kill(getpid(), SIGKILL);
}

// The pause a card's "StopAtWrite" asks for: the process stops until it is
// continued, so that a test can act between two commands of a write.
void StopHere() {
  raise(SIGSTOP);
}

// The card works on the medium the machine opened, never on its name, with
// the test's seams its key asks for and the hooks around its writes.
void UseOpenedMedium(sim::CardSettings* settings) {
  if (settings->killAtWrite != 0) settings->powerCut = CutPower;
  if (settings->stopAtWrite != 0) settings->stop = StopHere;
  const CardMedium& medium = CardMediumAt(settings->image);
  settings->openMedium = OpenedCardMedium;
  settings->openedExclusively = medium.exclusive;
  settings->lockedWith = medium.loopBackingFile;
  settings->beforeWrite = Hooks().beforeWrite;
  settings->afterWrite = Hooks().afterWrite;
}

// Reads the driver's key and its cards. Their media are opened on the cards'
// first use; the boot has checked them already.
std::unique_ptr<CardSet> LoadCards() {
  auto set = std::make_unique<CardSet>();
  cards::DriverRegistry registry;
  std::string problem;
  if (!cards::ReadDriverRegistry(&registry, &problem)) {
    Note(problem);
    set->usable = false;
    return set;
  }
  set->driverInstalled = registry.installed;
  for (sim::CardSettings& settings : registry.cards) {
    UseOpenedMedium(&settings);
    set->cards.push_back(std::make_unique<sim::AtaCard>(settings));
  }
  return set;
}

bool SameName(LPCSTR name, const char* device) {
  return name != nullptr && strcasecmp(name, device) == 0;
}

DeviceHandle* Find(HANDLE handle) {
  for (const auto& open : openHandles) {
    if (open.get() == handle) return open.get();
  }
  return nullptr;
}

HANDLE Adopt(std::unique_ptr<DeviceHandle> device) {
  HANDLE handle = device.get();
  openHandles.push_back(std::move(device));
  return handle;
}

// The media of the cards written so far.
std::vector<std::string> RewrittenMedia() {
  std::vector<std::string> rewritten;
  if (cardSet == nullptr) return rewritten;
  for (const auto& card : cardSet->cards) {
    if (CardWasWritten(*card)) rewritten.push_back(card->settings().image);
  }
  return rewritten;
}

// A signal held during the write ends the run at the next key wait, while
// the system still holds its handles: the cards are released first, as the
// end of a run releases them.
void ReleaseCardsBeforeEnding() {
  if (cardSet != nullptr && Hooks().beforeRelease) Hooks().beforeRelease(cardSet->Pointers());
  std::vector<std::string> rewritten = RewrittenMedia();
  if (Hooks().afterRelease) Hooks().afterRelease();
  AfterCardsClosed(rewritten);
  for (const std::string& medium : rewritten) NoteEndedAfterWrite(medium);
}

void DropCardsWhenIdle() {
  if (!openHandles.empty()) return;
  // The finishing step, while each card is still locked and before its
  // partition table is read again.
  if (cardSet != nullptr && Hooks().beforeRelease) Hooks().beforeRelease(cardSet->Pointers());
  std::vector<std::string> rewritten = RewrittenMedia();
  if (cardSet != nullptr) {
    for (const auto& card : cardSet->cards) {
      if (card->volumeLockRefused()) NoteHolder(card->settings());
    }
  }
  cardSet.reset();
  if (Hooks().afterRelease) Hooks().afterRelease();
  // Whatever was being written is over once the cards are released.
  SetBeforeHeldSignalEnds(nullptr);
  ReleaseEndingSignals();
  AfterCardsClosed(rewritten);
}

}  // namespace

bool MachineCards(std::vector<sim::CardSettings>* cards, std::string* error) {
  cards::DriverRegistry registry;
  if (!cards::ReadDriverRegistry(&registry, error)) return false;
  for (sim::CardSettings& settings : registry.cards) UseOpenedMedium(&settings);
  *cards = registry.cards;
  return true;
}

const sim::AtaCard* SelectedCard() {
  for (auto it = openHandles.rbegin(); it != openHandles.rend(); ++it) {
    if ((*it)->driver != nullptr) return (*it)->driver->SelectedCard();
  }
  return nullptr;
}

void RereadTables(const std::vector<std::string>& media) {
  AfterCardsClosed(media);
}

// The test hooks (host/testing.h).

sim::PassThroughDriver* OpenPassThroughDriver() {
  for (auto it = openHandles.rbegin(); it != openHandles.rend(); ++it) {
    if ((*it)->driver != nullptr) return (*it)->driver.get();
  }
  return nullptr;
}

sim::Vwin32Device* OpenVwin32Device() {
  for (auto it = openHandles.rbegin(); it != openHandles.rend(); ++it) {
    if ((*it)->vwin32 != nullptr) return (*it)->vwin32.get();
  }
  return nullptr;
}

sim::AtaCard* FindOpenCard(uint16_t ioBase) {
  if (cardSet == nullptr || OpenPassThroughDriver() == nullptr) return nullptr;
  for (const auto& card : cardSet->cards) {
    if (card->settings().ioBase == ioBase) return card.get();
  }
  return nullptr;
}

}  // namespace host

using host::cardSet;
using host::openHandles;

HANDLE CreateFileA(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  bool passThrough = host::SameName(name, host::kPassThroughName);
  bool vwin32 = host::SameName(name, host::kVwin32Name);
  if (!passThrough && !vwin32) return INVALID_HANDLE_VALUE;
  if (cardSet == nullptr) {
    cardSet = host::LoadCards();
    host::SetBeforeHeldSignalEnds(host::ReleaseCardsBeforeEnding);
  }

  auto device = std::make_unique<host::DeviceHandle>();
  if (passThrough) {
    if (!cardSet->driverInstalled || !cardSet->usable) {
      host::DropCardsWhenIdle();
      return INVALID_HANDLE_VALUE;
    }
    device->driver = std::make_unique<sim::PassThroughDriver>(cardSet->Pointers());
  } else {
    // VWIN32 is part of every Windows 9x machine.
    device->vwin32 =
        std::make_unique<sim::Vwin32Device>(cardSet->Pointers(), host::ProgramStaticData);
  }
  return host::Adopt(std::move(device));
}

BOOL CloseHandle(HANDLE handle) {
  for (auto it = openHandles.begin(); it != openHandles.end(); ++it) {
    if (it->get() == handle) {
      openHandles.erase(it);  // a VWIN32 device gives back its volume locks here
      host::DropCardsWhenIdle();
      return TRUE;
    }
  }
  return FALSE;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED) {
  host::DeviceHandle* device = host::Find(handle);
  bool done = false;
  if (device != nullptr && device->driver != nullptr) {
    // The first WRITE SECTORS begins the write: from here until the program
    // waits for a key again, a signal waits for the write to end.
    if (code == sim::kPassThroughWrite) {
      host::HoldEndingSignals();
      if (host::Hooks().writeBegins) host::Hooks().writeBegins(cardSet->Pointers());
    }
    done = device->driver->Control(code, in, inSize, out, outSize);
  } else if (device != nullptr) {
    done = device->vwin32->Control(code, in, inSize, out, outSize);
  }
  if (returned != nullptr) *returned = done ? outSize : 0;
  return done ? TRUE : FALSE;
}
