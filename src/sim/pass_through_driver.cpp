#include "sim/pass_through_driver.h"

#include "common/ata_commands.h"
#include "common/little_endian.h"

namespace sim {

bool PassThroughDriver::Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                                uint32_t outputSize) {
  const uint8_t* in = static_cast<const uint8_t*>(input);
  DriverCall call{code, {}, outputSize, output != nullptr, false};
  if (in != nullptr) call.input.assign(in, in + inputSize);
  call.succeeded = Run(code, in, inputSize, static_cast<uint8_t*>(output));
  calls.push_back(call);
  return call.succeeded;
}

AtaCard* PassThroughDriver::SelectedCard() const {
  for (AtaCard* card : cards_) {
    const CardSettings& s = card->settings();
    if (s.ioBase == ioBase_ && s.controlPort == controlPort_) return card;
  }
  return nullptr;
}

bool PassThroughDriver::Run(uint32_t code, const uint8_t* in, uint32_t inputSize, uint8_t* out) {
  if (code == kPassThroughSetPorts) {
    if (in == nullptr || inputSize < kPortRecordSize) return false;
    ioBase_ = GetLe16(in + kPortsIoBase);
    controlPort_ = GetLe16(in + kPortsControl);
    return true;
  }
  if (code != kPassThroughRead && code != kPassThroughWrite) return false;
  if (in == nullptr || inputSize < kRequestSize || out == nullptr) return false;
  AtaCard* card = SelectedCard();
  if (card == nullptr) return false;

  uint16_t command = GetLe16(in + kRequestCommand);
  uint16_t cylinder = GetLe16(in + kRequestCylinder);
  uint16_t head = GetLe16(in + kRequestHead);
  uint16_t sector = GetLe16(in + kRequestSector);
  uint16_t count = GetLe16(in + kRequestCount);
  // Data flows into the output buffer with code 3 and out of it with code 4;
  // a command sent with the other code has no data phase to match it.
  if (code == kPassThroughRead && command == kAtaIdentifyDevice) return card->Identify(out);
  if (code == kPassThroughRead && command == kAtaReadSectors) {
    return card->ReadSectors(cylinder, head, sector, count, out);
  }
  if (code == kPassThroughWrite && command == kAtaWriteSectors) {
    return card->WriteSectors(cylinder, head, sector, count, out);
  }
  return false;
}

}  // namespace sim
