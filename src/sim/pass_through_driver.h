// The ATA pass-through driver as the utility sees it through DeviceIoControl:
// control code 6 sets the command-block and control ports, code 3 runs
// IDENTIFY DEVICE or READ SECTORS into the output buffer, code 4 runs WRITE
// SECTORS from it. Commands reach a card only when the ports last set are
// that card's; otherwise they fail as they would with no device there.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "sim/ata_card.h"

namespace sim {

// Control codes of the driver. The codes and the two records below are the
// driver's side of its contract with the utility, written here from the
// driver's description and not taken from device/ata_request.h: were the two
// sides to share one header, a wrong offset would be wrong on both and every
// test would still pass. Kept apart, a slip on either side fails a request.
constexpr uint32_t kPassThroughRead = 3;
constexpr uint32_t kPassThroughWrite = 4;
constexpr uint32_t kPassThroughSetPorts = 6;

// The 32-byte request record of codes 3 and 4: little-endian 16-bit fields.
constexpr uint32_t kRequestSize = 32;
constexpr int kRequestCommand = 0;
constexpr int kRequestCylinder = 4;
constexpr int kRequestHead = 6;
constexpr int kRequestSector = 8;
constexpr int kRequestCount = 10;
// The port record of code 6: command-block base, then control port.
constexpr uint32_t kPortRecordSize = 4;
constexpr int kPortsIoBase = 0;
constexpr int kPortsControl = 2;

// One DeviceIoControl call as the driver received it.
struct DriverCall {
  uint32_t code;
  std::vector<uint8_t> input;
  uint32_t outputSize;
  bool outputPresent;
  bool succeeded;
};

class PassThroughDriver {
 public:
  explicit PassThroughDriver(std::vector<AtaCard*> cards) : cards_(std::move(cards)) {}

  // The driver's side of DeviceIoControl. The output size is not a bound on
  // the sector buffer: the request's sector count says how much is moved.
  bool Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
               uint32_t outputSize);

  // The card the ports last set address, or null.
  AtaCard* SelectedCard() const;

  // Every call in the order it arrived; tests read the exact bytes here.
  std::vector<DriverCall> calls;

 private:
  bool Run(uint32_t code, const uint8_t* input, uint32_t inputSize, uint8_t* output);

  std::vector<AtaCard*> cards_;
  uint16_t ioBase_ = 0;
  uint16_t controlPort_ = 0;
};

}  // namespace sim
