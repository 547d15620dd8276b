// ATA IDENTIFY DEVICE asked of a card behind a SCSI bridge, as most USB card
// readers and PC Card bridges are: the ATA command travels inside the SCSI
// ATA PASS-THROUGH (16) command of the SCSI/ATA translation, sent with
// Linux's SG_IO request on the reader's block device.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "sim/identify_layout.h"

namespace host {

// The ATA PASS-THROUGH (16) command block.
constexpr int kPassThrough16Length = 16;
// The sense data a reader may return with a CHECK CONDITION.
constexpr int kSenseBufferBytes = 32;

// Fills the 16-byte ATA PASS-THROUGH (16) command block for IDENTIFY DEVICE.
void BuildIdentifyCommand(uint8_t command[kPassThrough16Length]);

// Whether sense data returned with CHECK CONDITION still reports the ATA
// command as done: some bridges return the ATA registers that way after a
// command that completed without error.
bool SenseReportsCompletion(const uint8_t* sense, int length);

// Reads the geometry and identity texts out of an IDENTIFY DEVICE block.
void DecodeIdentify(const uint8_t block[kIdentifyBlockBytes], sim::CardIdentity* identity);

// The SG_IO request as the kernel carries it out; tests put a stand-in in
// its place that answers as a reader would. Returns what ioctl returns.
using SgIoRequest = int (*)(int fd, sg_io_hdr_t* request);
int KernelSgIo(int fd, sg_io_hdr_t* request);

// Sends IDENTIFY DEVICE to the card behind fd. True with *identity when the
// card answered with a block that gives a geometry; false with *why, a short
// phrase, when the device takes no such command, the reader reports an
// error, or the answer is unusable.
bool AskCardIdentity(int fd, sim::CardIdentity* identity, std::string* why,
                     SgIoRequest request = KernelSgIo);

}  // namespace host
