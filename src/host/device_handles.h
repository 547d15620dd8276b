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
#pragma once

#include <cstdint>

#include "sim/ata_card.h"
#include "sim/pass_through_driver.h"
#include "sim/vwin32_device.h"

namespace host {

// For tests: the card behind the open pass-through handle with this I/O base,
// or null when no such card is open.
sim::AtaCard* FindOpenCard(uint16_t ioBase);

// For tests: the most recently opened pass-through driver and VWIN32 device
// still open, or null; their call logs hold the exact bytes the system sent.
sim::PassThroughDriver* OpenPassThroughDriver();
sim::Vwin32Device* OpenVwin32Device();

}  // namespace host
