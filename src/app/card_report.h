// What the system knows of its card, for a program that shows it other than
// on the console: the identity, both geometries and the partition list as
// the main screen lists them, and the plan that "1" makes. Plain values
// only, so that a caller needs nothing else of the system.
#pragma once

#include <cstdint>

#include "format/volume_plan.h"

struct ReportedPartition {
  uint8_t type;
  char typeName[16];  // the listing's "Type"
  int32_t startCylinder;
  int32_t startHead;
  int32_t startSector;
  int32_t endCylinder;
  int32_t endHead;
  int32_t endSector;
  uint32_t sizeMb;
  char system[12];  // as the listing shows it: "UNKNOWN" when there is none
  char label[12];
  int planned;  // 1: a new partition, not on the card yet
};

struct CardReport {
  int32_t physicalCylinders;
  int32_t physicalHeads;
  int32_t physicalSectors;
  int32_t logicalCylinders;
  int32_t logicalHeads;
  int32_t logicalSectors;
  char model[41];
  char serialNumber[21];
  int partitionCount;
  ReportedPartition partitions[8];
};

// Reads the machine's card as the start-up and the main screen would, but
// without the console, without the volume lock and without a write: the
// card is found in the registry, identified and its MBR and boot sectors
// read, then closed again. Null, or the start-up's message for a card it
// would refuse ("PC Card HDD not exist!", "PC Card HDD access error!", ...).
const char* SurveyCard(CardReport* report);

// The card of the run in progress (after its start-up), as its main screen
// lists it now. False when no card is open.
bool ReportOpenedCard(CardReport* report);

// The partition "1" planned on the card of the run in progress and the
// volume its write would make. False when nothing is planned.
bool ReportPlan(ReportedPartition* partition, VolumePlan* volume);
