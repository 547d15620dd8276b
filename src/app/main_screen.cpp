// The main screen: the drive's identity, both geometries, the partition
// listing and the menu.
#include <cstdio>
#include <cstring>

#include "app/run_utility.h"
#include "console/console_screen.h"
#include "disk/card_disk.h"

namespace {

// The listing has room for eight entries; the MBR holds at most four.
const int kListingRoom = 8;

// What the screen shows of the card, taken once: planning may lower the
// logical cylinders later, and the screen keeps showing the card as read.
struct CardView {
  int physicalCylinders;
  int physicalHeads;
  int physicalSectors;
  int logicalCylinders;
  int logicalHeads;
  int logicalSectors;
  char model[41];
  char serialNumber[21];
};

void FormatOsLine(char* line, size_t size) {
  const OSVERSIONINFOEXA& v = theVersionInfo;
  bool is98 = v.dwMajorVersion > 4 || (v.dwMajorVersion == 4 && v.dwMinorVersion != 0);
  snprintf(line, size,
           is98 ? "Microsoft Windows 98 %ld.%02ld.%ld%s" : "Microsoft Windows 95 %ld.%02ld.%ld%s",
           static_cast<long>(v.dwMajorVersion), static_cast<long>(v.dwMinorVersion),
           static_cast<long>(BuildNumber(v)), v.szCSDVersion);
}

void DrawScreen(const CardView& view) {
  char line[256];
  theConsole.ClearScreen();
  theConsole.PrintAt(1, 1, "Brackenfold 1.20");
  theConsole.PrintAt(1, 2, "Copyright (C) 1999-2001 Brackenfold. All rights reserved.");

  FormatOsLine(line, sizeof line);
  theConsole.PrintAt(5, 3, "OS");
  theConsole.PrintAt(14, 3, line);
  theConsole.PrintAt(5, 4, "Model");
  theConsole.PrintAt(14, 4, view.model);
  theConsole.PrintAt(5, 5, "S/N");
  theConsole.PrintAt(14, 5, view.serialNumber);

  snprintf(line, sizeof line, "Physical %5d cylinders x %3d heads x %2d sectors",
           view.physicalCylinders, view.physicalHeads, view.physicalSectors);
  theConsole.PrintAt(5, 7, line);
  snprintf(line, sizeof line, "Logical  %5d cylinders x %3d heads x %2d sectors",
           view.logicalCylinders, view.logicalHeads, view.logicalSectors);
  theConsole.PrintAt(5, 8, line);

  ShowPartitionTable(10);

  theConsole.PrintAt(5, 16, "Choose one of the following:");
  theConsole.PrintAt(5, 17, "1:   Re-partition");
  theConsole.PrintAt(5, 18, "2:   Write and exit");
  theConsole.PrintAt(5, 19, "Esc: Exit without writing");
  theConsole.PrintAt(5, 20, " Enter choice: ");
}

}  // namespace

void ShowPartitionTable(int firstRow) {
  PartitionEntry* list[kListingRoom];
  int count = theCardDisk->ListPartitions(0, list);
  theConsole.PrintAt(5, firstRow, "            Starting        Ending     Size");
  theConsole.PrintAt(5, firstRow + 1, "Type      Cyl Head  Sct  Cyl Head  Sct   MB System   Label");
  for (int i = 0; i < count; ++i) {
    const PartitionEntry* entry = list[i];
    char line[256];
    snprintf(line, sizeof line, "%-8s %4d %4d %4d %4d %4d %4d %4d          %11s",
             PartitionList::TypeName(entry), ChsCylinder(entry->start), ChsHead(entry->start),
             ChsSector(entry->start), ChsCylinder(entry->end), ChsHead(entry->end),
             ChsSector(entry->end), static_cast<int>(entry->sizeMb), entry->label);
    int row = firstRow + 2 + i;
    theConsole.PrintAt(5, row, line);
    if (entry->system[0] != 0 || entry->kind == kKindExtended) {
      theConsole.PrintAt(49, row, entry->system);
    } else {
      theConsole.PrintAt(49, row, "UNKNOWN");
    }
  }
}

int RunMainScreen() {
  CardView view;
  const CardDisk& disk = *theCardDisk;
  view.physicalCylinders = disk.physicalCylinders;
  view.physicalHeads = disk.physicalHeads;
  view.physicalSectors = disk.physicalSectors;
  view.logicalCylinders = disk.logicalCylinders;
  view.logicalHeads = disk.logicalHeads;
  view.logicalSectors = disk.logicalSectors;
  memcpy(view.model, disk.model, sizeof view.model);
  memcpy(view.serialNumber, disk.serialNumber, sizeof view.serialNumber);

  for (;;) {
    DrawScreen(view);
    char choice[2];
    if (theConsole.Prompt(20, 20, "1", choice, "12L") == -1) return -1;
    if (choice[0] == '1') {
      int result = RepartitionAction();
      if (result != 0) return result;
    } else if (choice[0] == '2') {
      return 0;
    }
  }
}
