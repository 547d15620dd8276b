#include "device/ata_request.h"

#include <cstring>

#include "common/little_endian.h"

void AtaRequest::Build(uint16_t command, int cylinder, int head, int sector, int count) {
  std::memset(bytes, 0, sizeof bytes);
  PutLe16(bytes + kAtaRequestCommand, command);
  PutLe16(bytes + kAtaRequestCylinder, static_cast<uint16_t>(cylinder));
  PutLe16(bytes + kAtaRequestHead, static_cast<uint16_t>(head));
  PutLe16(bytes + kAtaRequestSector, static_cast<uint16_t>(sector));
  PutLe16(bytes + kAtaRequestCount, static_cast<uint16_t>(count));
  PutLe16(bytes + kAtaRequestDriverParameter, kDriverParameterValue);
}

void AtaRequest::MarkWrite() {
  PutLe16(bytes + kAtaRequestWriteParameter, kWriteParameterValue);
}
