// One run of the utility, from process start to exit, and the run-wide
// objects its stages share.
#pragma once

#include <cstdint>

#include "win32/win32.h"

struct CardDeviceRecord;
struct CardDisk;

// Run results: the process exit code.
const int kRunDone = 0;
const int kRunStartUpFailed = 1;
const int kRunMainScreenEnded = 2;
const int kRunWriteFailed = 3;
const int kRunMessageThrown = 4;

// The version record: 156 bytes, the extended record of the NT line, so that
// the first call can ask for it and a Windows 9x machine can refuse it.
extern OSVERSIONINFOEXA theVersionInfo;
extern CardDeviceRecord* theChosenRecord;
extern CardDisk* theCardDisk;
extern int32_t LargeDiskFlag;

// The build of a version record: Windows 9x keeps the major and minor version
// in the high word of dwBuildNumber, the build in the low word.
inline unsigned BuildNumber(const OSVERSIONINFOEXA& version) {
  return version.dwBuildNumber & 0xFFFF;
}

int RunUtility();
int StartUp();
void ShowExitPrompt();
int FailWith(const char* text);

int CardStartUp();
// The 2 GB rule: sets LargeDiskFlag (FAT32 allowed) for a card above the
// largest FAT16 volume on a build that holds FAT32; -1 when the build cannot
// hold the card at all (Windows 95 before OSR2 above 2 GB), else 0.
int ApplyLargeDiskRule(const CardDisk& disk, unsigned build);
// Closes the disk channel, then destroys and frees theCardDisk (if any) and
// sets it to null: the end of every run.
void CloseCard();

int RunMainScreen();
void ShowPartitionTable(int firstRow);

int RepartitionAction();
int Repartition();
int ConfirmAndWrite();
