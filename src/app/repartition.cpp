// The two decisions that change the card: re-planning it, and the final
// confirmation that leads to the write.
#include "app/run_utility.h"
#include "console/console_screen.h"
#include "disk/card_disk.h"

int RepartitionAction() {
  theCardDisk->ClearPartitions();
  return Repartition();
}

int Repartition() {
  CardDisk& disk = *theCardDisk;
  int32_t size = 0;
  if (LargeDiskFlag == 1) {
    disk.fat32Allowed = 1;
    int result = disk.PlanSize(kKindPrimary, &size);
    if (result != 0) return result;
    if (disk.ChooseType(size) != kPartitionTypeFat32) disk.fat32Allowed = 0;
  } else {
    disk.fat32Allowed = 0;
  }
  int result = disk.PlanSize(kKindPrimary, &size);
  if (result != 0) return result;
  disk.AddPrimaryPartition(kKindPrimary, size);
  return 0;
}

int ConfirmAndWrite() {
  CardDisk& disk = *theCardDisk;
  if (disk.modified == 0) {
    theConsole.ClearScreen();
    return 0;
  }
  theConsole.ClearScreen();
  theConsole.PrintAt(20, 10, "WARNING, ALL DATA ON");
  theConsole.PrintAt(20, 11, disk.model);
  theConsole.PrintAt(20, 12, "WILL BE LOST!");
  theConsole.PrintAt(20, 13, "Proceed with Re-partiton (Y/N)?");
  char answer[2];
  int result = theConsole.Prompt(52, 13, "N", answer, "YN");
  if (result == -1 || answer[0] != 'Y') {
    theConsole.ClearScreen();
    return 0;
  }
  theConsole.PrintAt(20, 15, "Writing PC Card HDD partition info.");
  Sleep(200);
  if (disk.WritePartitionTable() != 0) {
    theConsole.PrintAt(20, 16, "WRITE ERROR!");
    ShowExitPrompt();
    return -1;
  }
  theConsole.ClearRows(10, 24);
  theConsole.PrintAt(10, 10, "You must remove and re-insert from/to your system ");
  theConsole.PrintAt(10, 11, "for your change to take effect.");
  ShowExitPrompt();
  theConsole.ClearScreen();
  return 0;
}
