// What the machine's boot checks before anything of the machine runs and
// before the terminal is taken: the machine file itself, and every card the
// machine describes, its key's values and its medium. Whatever is refused
// here is one line naming the machine, the key or file and what is wrong.
#pragma once

#include <string>

#include "host/boot/machine_options.h"

namespace host {

// The largest machine file that is read: a registry export of a Windows 9x
// machine is some kilobytes.
constexpr long kMachineFileLimit = 1 << 20;

// Reads the machine file into *text: a regular file of at most
// kMachineFileLimit bytes. A device, a FIFO or a folder is refused without
// being read.
bool ReadMachineFile(const std::string& path, std::string* text, std::string* error);

// Checks every card key of the installed registry: its values and their
// types, the drive letters, and the medium, which must exist or be
// creatable, be a regular file or a block device that opens for reading and
// writing, and hold at least the card's C x H x S x 512 bytes. Nothing is
// created, grown or written. *error starts with machineName.
bool CheckMachineCards(const MachineOptions& settings, const std::string& machineName,
                       std::string* error);

// Checks the screen dump, when set: a regular file or a name not taken
// yet, and never the medium of a card (nor the file written beside it), so
// that a test's screen can never land on a card or a device.
bool CheckScreenDump(const Setting& screenDump, std::string* error);

}  // namespace host
