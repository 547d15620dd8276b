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

int RunUtility();
int StartUp();
void ShowExitPrompt();
int FailWith(const char* text);

int CardStartUp();

int RunMainScreen();
void ShowPartitionTable(int firstRow);

int RepartitionAction();
int Repartition();
int ConfirmAndWrite();
