#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "channel_fixture.h"
#include "host/boot/machine_check.h"
#include "host/devices/write_signals.h"
#include "host/machine_hooks.h"
#include "win32/win32.h"

namespace {

using channeltest::CardKey;
using channeltest::ChannelTest;

HANDLE Open(const char* name) {
  return CreateFileA(name, 0, 0, nullptr, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

namespace {

// What the machine notes for standard error when the pass-through driver
// refuses to open on the machine loaded.
std::string NotesOfARefusedOpen() {
  std::string notes;
  host::MachineHooks hooks;
  hooks.note = [&notes](const std::string& line) { notes += line + "\n"; };
  host::KeepHooks(hooks);
  HANDLE handle = Open("\\\\.\\MIRT.VXD");
  host::KeepHooks(host::MachineHooks());
  EXPECT_EQ(INVALID_HANDLE_VALUE, handle);
  return notes;
}

}  // namespace

TEST_F(ChannelTest, DeviceNamesOpenCaseInsensitively) {
  HANDLE mirt = Open("\\\\.\\mirt.vxd");
  HANDLE vwin32 = Open("\\\\.\\VWIN32");
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  ASSERT_NE(INVALID_HANDLE_VALUE, vwin32);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\OTHER.VXD"));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("MIRT.VXD"));
  EXPECT_NE(nullptr, host::FindOpenCard(0x170));
  EXPECT_EQ(nullptr, host::FindOpenCard(0x1E0));
  EXPECT_EQ(0, host::OpenKeyCount());
  EXPECT_TRUE(CloseHandle(mirt));
  EXPECT_FALSE(CloseHandle(mirt)) << "already closed";
  EXPECT_EQ(nullptr, host::FindOpenCard(0x170)) << "no pass-through handle left";
  EXPECT_TRUE(CloseHandle(vwin32));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  int unknown = 0;
  EXPECT_FALSE(CloseHandle(&unknown));
  DWORD returned = 0;
  EXPECT_FALSE(DeviceIoControl(&unknown, 6, &returned, 4, nullptr, 0, &returned, nullptr));
}

TEST_F(ChannelTest, ClosingTheVwin32HandleDropsItsLocks) {
  theDiskChannel.Open();
  theDiskChannel.driveLetter = 'E';
  ASSERT_EQ(0, theDiskChannel.LockVolume());
  ASSERT_TRUE(CloseHandle(theDiskChannel.vwin32Handle));
  theDiskChannel.vwin32Handle = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(channeltest::FreeForOthers(image));
}

TEST_F(ChannelTest, Vwin32OpensWithoutTheDriverAndMapsEveryLetterToTheFixedDisk) {
  LoadMachine({DefaultCard()}, false);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open("\\\\.\\MIRT.VXD"));
  theDiskChannel.vwin32Handle = Open("\\\\.\\vwin32");
  ASSERT_NE(INVALID_HANDLE_VALUE, theDiskChannel.vwin32Handle);
  EXPECT_EQ(0x80, theDiskChannel.GetDriveMapInfo('E'));
  EXPECT_EQ(-1, theDiskChannel.GetDriveMapInfo('['));
}

TEST_F(ChannelTest, CardsGetUnitsInTurnAndLockTheirOwnMedium) {
  CardKey first = DefaultCard();
  first.extra = "";
  CardKey second = first;
  second.name = "01e0";
  second.controlPort = 0x3EE;
  second.image = dir.File("second.img");
  second.driveLetters = "fG";
  LoadMachine({first, second});
  theDiskChannel.Open();
  EXPECT_EQ(0x81, theDiskChannel.GetDriveMapInfo('E'));
  EXPECT_EQ(0x82, theDiskChannel.GetDriveMapInfo('g'));
  ASSERT_NE(nullptr, host::FindOpenCard(0x1E0));
  EXPECT_EQ(0x3EE, host::FindOpenCard(0x1E0)->settings().controlPort);
  theDiskChannel.driveLetter = 'F';
  ASSERT_EQ(0, theDiskChannel.LockVolume());
  EXPECT_FALSE(channeltest::FreeForOthers(second.image));
  EXPECT_TRUE(channeltest::FreeForOthers(image));
}

TEST_F(ChannelTest, MalformedCardKeysKeepTheDriverFromOpening) {
  struct Case {
    const char* what;
    CardKey card;
    const char* message;
  };
  CardKey noImage = DefaultCard();
  noImage.image = "";
  CardKey badList = DefaultCard();
  badList.extra = "\"BadSectors\"=\"12-x\"\n";
  CardKey badName = DefaultCard();
  badName.name = "17";
  CardKey badLetters = DefaultCard();
  badLetters.keyDriveLetters = "E:";
  CardKey otherLetters = DefaultCard();
  otherLetters.keyDriveLetters = "F";
  CardKey bigHeads = DefaultCard();
  bigHeads.heads = 0x10000;
  CardKey fixedDiskUnit = DefaultCard();
  fixedDiskUnit.extra = "\"Int13Unit\"=dword:00000080\n";
  for (const Case& c :
       {Case{"no image", noImage, "\"Image\""}, Case{"bad list", badList, "\"BadSectors\""},
        Case{"bad name", badName, "Cards\\17"}, Case{"bad letters", badLetters, "\"DriveLetters\""},
        Case{"letters the registry does not give", otherLetters, "\"F\" but the device registry"},
        Case{"big heads", bigHeads, "\"Heads\""},
        Case{"the fixed disk's unit", fixedDiskUnit, "\"Int13Unit\""}}) {
    SCOPED_TRACE(c.what);
    LoadMachine({c.card});
    std::string message = NotesOfARefusedOpen();
    EXPECT_NE(std::string::npos, message.find("VxD\\MIRT\\Cards\\")) << message;
    EXPECT_NE(std::string::npos, message.find(c.message)) << message;
    EXPECT_EQ(0, host::OpenKeyCount()) << "every registry key read is closed again";
  }
  // Two cards of one Int 13h unit: VWIN32 would lock the one for the other.
  CardKey second = DefaultCard();
  second.name = "01e0";
  second.image = dir.File("second.img");
  LoadMachine({DefaultCard(), second});
  std::string message = NotesOfARefusedOpen();
  EXPECT_NE(std::string::npos,
            message.find("Cards\\01e0: \"Int13Unit\" is also the unit of card 0170"))
      << message;
}

TEST_F(ChannelTest, MediaAreOpenedOnFirstUseAndCheckedAtBoot) {
  // A card whose image is in a missing folder: the driver opens, since no
  // medium is opened before a card is used; the boot's check refuses it.
  CardKey noFolder = DefaultCard();
  noFolder.image = dir.File("missing/card.img");
  LoadMachine({noFolder});
  std::string error;
  EXPECT_FALSE(host::CheckMachineCards(host::MachineOptions(), "test.reg", &error));
  EXPECT_EQ(0u, error.find("test.reg: ")) << error;
  EXPECT_NE(std::string::npos, error.find("missing/card.img")) << error;
  HANDLE mirt = Open("\\\\.\\MIRT.VXD");
  ASSERT_NE(INVALID_HANDLE_VALUE, mirt);
  EXPECT_EQ(-1, host::FindOpenCard(0x170)->mediumDescriptor());
  EXPECT_TRUE(CloseHandle(mirt));

  // A missing image in an existing folder passes the check and is created
  // at the card's first transfer, not before.
  ASSERT_EQ(0, unlink(image.c_str()));
  LoadMachine({DefaultCard()});
  ASSERT_TRUE(host::CheckMachineCards(host::MachineOptions(), "test.reg", &error)) << error;
  EXPECT_NE(0, access(image.c_str(), F_OK));
  theDiskChannel.Open();
  EXPECT_NE(0, access(image.c_str(), F_OK)) << "created when the driver opened";
  uint8_t sector[512];
  sim::AtaCard* card = host::FindOpenCard(0x170);
  ASSERT_NE(nullptr, card);
  EXPECT_TRUE(card->ReadSectors(0, 0, 1, 1, sector));
  EXPECT_EQ(0, access(image.c_str(), F_OK));
}

}  // namespace

namespace {
volatile sig_atomic_t terminations = 0;
void CountTermination(int) {
  terminations = terminations + 1;
}
}  // namespace

// The write begins with its first WRITE SECTORS: from there a SIGTERM waits,
// reads and all, and comes through once the cards are released.
TEST_F(ChannelTest, EndingSignalsWaitFromTheFirstWriteUntilTheCardsAreReleased) {
  terminations = 0;
  struct sigaction count {
  }, before{};
  count.sa_handler = CountTermination;
  sigemptyset(&count.sa_mask);
  ASSERT_EQ(0, sigaction(SIGTERM, &count, &before));
  theDiskChannel.Open();
  ASSERT_EQ(0, theDiskChannel.SetPorts(0x170, 0x376));
  uint8_t sector[512] = {};
  ASSERT_EQ(0, theDiskChannel.ReadSectors(0, 0, 1, 1, sector));
  raise(SIGTERM);
  EXPECT_EQ(1, terminations) << "a read holds nothing";

  ASSERT_EQ(0, theDiskChannel.WriteSectors(0, 0, 2, 1, sector));
  EXPECT_TRUE(host::EndingSignalsHeld());
  raise(SIGTERM);
  ASSERT_EQ(0, theDiskChannel.ReadSectors(0, 0, 1, 1, sector));
  ASSERT_EQ(0, theDiskChannel.WriteSectors(0, 0, 1, 1, sector));
  EXPECT_EQ(1, terminations) << "acted on during the write";

  theDiskChannel.Close();
  EXPECT_FALSE(host::EndingSignalsHeld());
  EXPECT_EQ(2, terminations);
  sigaction(SIGTERM, &before, nullptr);
}
