// What the POSIX medium tells beyond medium.h, for the Linux host and its
// tests.
#pragma once

#include <cstdint>

namespace sim {

// How a card's block device is opened for its transfers: straight to the
// device (O_DIRECT), past the page cache. Each WRITE SECTORS command becomes
// one write of exactly its sectors, as an ATA command writes them, instead of
// the kernel reading the 4 KB pages a run of 512-byte sectors half covers and
// writing them back; and what READ SECTORS returns is what the card holds,
// not what the cache kept.
//
// A descriptor opened so is written with its durability where the order
// matters, not after every command: the MBR (sector 0) is written last, so
// before the write that carries it everything written so far is made durable
// (fdatasync, which the kernel sends as a cache flush to a device with a
// write cache, and drops for a device without one), and the MBR itself is
// made durable before the write returns. A power cut or a pulled reader at
// any moment leaves the old MBR unless the whole volume is on the card.
// Image files are opened without O_DIRECT and written as any file is.
int BlockDeviceCardFlags();

// How many write calls so far, in this process, went to a descriptor opened
// O_DIRECT (a WRITE SECTORS command's run is one, unless the kernel returns a
// short count and the rest is written by another).
uint64_t DirectWrites();

// How many times so far, in this process, the writes to a descriptor opened
// O_DIRECT were made durable (fdatasync): before and after each write that
// carries sector 0, and never otherwise.
uint64_t DurablePoints();

}  // namespace sim
