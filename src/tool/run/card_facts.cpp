#include "tool/run/card_facts.h"

namespace tool {

using host::GeometrySource;
using host::TextSource;

const char* GeometrySourceName(GeometrySource source) {
  switch (source) {
    case GeometrySource::kIdentify:
      return "identify";
    case GeometrySource::kCardKey:
      return "card key";
    case GeometrySource::kOption:
      return "--geometry";
    case GeometrySource::kRecorded:
      return "undo file";
    case GeometrySource::kDerived:
      return "derived";
    case GeometrySource::kNone:
      break;
  }
  return nullptr;
}

std::string GeometrySourceText(GeometrySource source, bool optionSetAside) {
  switch (source) {
    case GeometrySource::kIdentify:
      return optionSetAside ? "from IDENTIFY DEVICE, the card's own; --geometry is set aside"
                            : "from IDENTIFY DEVICE";
    case GeometrySource::kCardKey:
      return "from the machine file's card key";
    case GeometrySource::kOption:
      return "from --geometry";
    case GeometrySource::kRecorded:
      return "from the undo file";
    case GeometrySource::kDerived:
      return "derived from the size; --geometry sets another";
    case GeometrySource::kNone:
      break;
  }
  return "unknown";
}

const char* TextSourceName(TextSource source) {
  switch (source) {
    case TextSource::kIdentify:
      return "identify";
    case TextSource::kCardKey:
      return "card key";
    case TextSource::kKernel:
      return "kernel";
    case TextSource::kFileName:
      return "file name";
    case TextSource::kPath:
      return "path";
    case TextSource::kNone:
      break;
  }
  return nullptr;
}

bool SerialIsAMachineFiles(const host::CardMedium& medium, const std::string& serial) {
  return !serial.empty() && medium.serialSource == TextSource::kCardKey && medium.IsBlockDevice();
}

bool SerialIsTheCards(const host::CardMedium& medium, const std::string& serial) {
  return !serial.empty() && !SerialIsAMachineFiles(medium, serial);
}

}  // namespace tool
