// What the host asks the kernel about a card in a card reader: the block
// device's sector size and size, and a new reading of its partition table.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// The logical sector size (BLKSSZGET) and the size in bytes (BLKGETSIZE64)
// of the block device behind fd. False with *why when the kernel does not say.
bool ReadBlockDeviceSize(int fd, uint32_t* sectorBytes, uint64_t* bytes, std::string* why);

// Asks the kernel to read the device's partition table again (BLKRRPART), so
// that the partitions just written appear. False with *why when it refuses,
// as it does while a partition is in use or for a device without partitions.
bool RereadPartitionTable(int fd, std::string* why);

}  // namespace host
