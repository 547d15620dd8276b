#include "app/run_utility.h"

#include <cstdio>
#include <cstring>

#include "console/console_screen.h"
#include "device/disk_channel.h"
#include "disk/card_disk.h"

OSVERSIONINFOEXA theVersionInfo;
CardDeviceRecord* theChosenRecord;
CardDisk* theCardDisk;
int32_t LargeDiskFlag;

namespace {

// Windows 95 and 98 know only the 148-byte record; the NT line also takes
// the 156-byte extended one, which is asked for first.
const DWORD kVersionInfoSize = sizeof(OSVERSIONINFOEXA);
const DWORD kVersionInfoSize9x = sizeof(OSVERSIONINFOA);

const int kStartUpRow = 15;
const int kStartUpColumn = 20;

void TearDown() {
  theConsole.ClearScreen();
  theConsole.RestoreAttribute();
  CloseCard();
}

}  // namespace

void CloseCard() {
  theDiskChannel.Close();
  if (theCardDisk != nullptr) {
    theCardDisk->Destroy();
    delete theCardDisk;
    theCardDisk = nullptr;
  }
}

void ShowExitPrompt() {
  theConsole.ShowAndWaitEsc(5, 24, "Press Esc to exit DUNMORE");
}

int FailWith(const char* text) {
  theConsole.PrintAt(kStartUpColumn, kStartUpRow, text);
  ShowExitPrompt();
  return -1;
}

int StartUp() {
  if (theConsole.Init() != 0) {
    puts("It failed in initialization of a screen.");
    return -1;
  }
  theConsole.ClearScreen();
  theConsole.SetMessagePosition(20, 24);

  memset(&theVersionInfo, 0, sizeof theVersionInfo);
  theVersionInfo.dwOSVersionInfoSize = kVersionInfoSize;
  OSVERSIONINFOA* record = reinterpret_cast<OSVERSIONINFOA*>(&theVersionInfo);
  if (!GetVersionExA(record)) {
    theVersionInfo.dwOSVersionInfoSize = kVersionInfoSize9x;
    if (!GetVersionExA(record)) return -1;
  }
  if (theVersionInfo.dwPlatformId != VER_PLATFORM_WIN32_WINDOWS) {
    return FailWith("This program is for Windows 9x.");
  }
  return CardStartUp();
}

int RunUtility() {
  int result;
  try {
    if (StartUp() != 0) {
      result = kRunStartUpFailed;
    } else if (RunMainScreen() != 0) {
      result = kRunMainScreenEnded;
    } else if (ConfirmAndWrite() != 0) {
      result = kRunWriteFailed;
    } else {
      result = kRunDone;
    }
  } catch (const char* text) {
    theConsole.ClearRows(kStartUpRow, kStartUpRow);
    theConsole.PrintAt(kStartUpColumn, kStartUpRow, text);
    ShowExitPrompt();
    result = kRunMessageThrown;
  }
  TearDown();
  return result;
}
