// What the POSIX medium tells beyond medium.h, for the Linux host and its
// tests.
#pragma once

#include <cstdint>

namespace sim {

// How a card's block device is opened for its transfers. A card's WRITE
// SECTORS completes only once its sectors are on the card: on a real card
// every write goes through to the device before the next command is sent, so
// that the old MBR stays until the new one is there.
int BlockDeviceCardFlags();

// How many WriteMedium calls so far, in this process, went to a descriptor
// opened for synchronous writes (a block device is opened so): each of them
// had reached the device when it returned.
uint64_t SynchronousWrites();

}  // namespace sim
