// The host's hooks for tests: a console without a terminal, the open device
// handles and their cards, the registry's bookkeeping. No production file
// includes this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/ata_card.h"
#include "sim/pass_through_driver.h"
#include "sim/vwin32_device.h"

namespace host {

// A console without a terminal: keys come from QueueKeys, the screen is read
// back with ScreenRows. Replaces whatever console was there.
void StartHeadlessConsole();
void QueueKeys(const std::string& codes);
std::vector<std::string> ScreenRows();
uint16_t AttributeAt(int column, int row);
void CursorPosition(int* column, int* row);
int BeepCount();
uint32_t ConsoleInputMode();
void SetConsoleInputMode(uint32_t mode);
// The file that receives the screen at every key wait (empty: none), as the
// screen-dump setting gives it to the program.
void SetScreenDump(const std::string& path);

// How many registry keys are open: every key opened must be closed again.
int OpenKeyCount();

// The card behind the open pass-through handle with this I/O base, or null
// when no such card is open.
sim::AtaCard* FindOpenCard(uint16_t ioBase);

// The most recently opened pass-through driver and VWIN32 device still open,
// or null; their call logs hold the exact bytes the system sent.
sim::PassThroughDriver* OpenPassThroughDriver();
sim::Vwin32Device* OpenVwin32Device();

}  // namespace host
