// What the two stand-in drivers share: the signature of the DeviceIoControl
// entry that Wine calls for a handle opened as "\\.\NAME.VXD", and the
// accessor through which VWIN32 reaches the cards the pass-through driver
// owns.
#pragma once

#include <windows.h>

#include "sim/ata_card.h"

namespace vxd {

// Exported as "DeviceIoControl" by each driver's module definition file.
typedef BOOL(WINAPI* DeviceIoEntry)(DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                    LPDWORD returned, LPOVERLAPPED overlapped);

// The pass-through driver's module and its export "MirtCards": the cards it
// opened, *count of them, valid while the module stays loaded.
constexpr char kPassThroughModule[] = "mirt.vxd";
constexpr char kCardsExport[] = "MirtCards";
typedef sim::AtaCard* const*(WINAPI* CardsAccessor)(DWORD* count);

}  // namespace vxd
