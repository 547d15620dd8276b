// What the POSIX medium tells beyond medium.h, for the Linux host and its
// tests.
#pragma once

#include <cstdint>

namespace sim {

// How many WriteMedium calls so far, in this process, went to a descriptor
// opened for synchronous writes (a block device is opened so): each of them
// had reached the device when it returned.
uint64_t SynchronousWrites();

}  // namespace sim
