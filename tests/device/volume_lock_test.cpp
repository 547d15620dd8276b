#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "channel_fixture.h"
#include "device/disk_channel.h"

namespace {

using channeltest::ChannelTest;
using channeltest::FreeForOthers;

enum { kEbx, kEdx, kEcx, kEax, kEdi, kEsi, kFlags };

TEST_F(ChannelTest, NoDriveLetterMeansNoVwin32Call) {
  theDiskChannel.Open();
  EXPECT_EQ(0, theDiskChannel.LockVolume());
  EXPECT_EQ(0, theDiskChannel.UnlockVolume());
  EXPECT_TRUE(Vwin32Calls().empty());
  EXPECT_TRUE(FreeForOthers(image));
}

TEST_F(ChannelTest, LocksTwiceOnTheMappedUnitAndUnlocksTwice) {
  for (char letter : {'e', 'E'}) {
    SCOPED_TRACE(letter);
    theDiskChannel.Open();
    theDiskChannel.driveLetter = letter;
    ASSERT_EQ(0, theDiskChannel.LockVolume());
    EXPECT_FALSE(FreeForOthers(image));
    const auto& calls = Vwin32Calls();
    ASSERT_EQ(3u, calls.size());
    // The drive map query: drive 5, the record's address in EDX.
    EXPECT_EQ(1u, calls[0].code);
    EXPECT_EQ(0x440Du, calls[0].in[kEax]);
    EXPECT_EQ(0x086Fu, calls[0].in[kEcx]);
    EXPECT_EQ(5u, calls[0].in[kEbx]);
    // The record's address in EDX: its low 32 bits, as a Windows 9x process has
    // them all; the native build maps them back to the record.
    EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(theDiskChannel.driveMapInfo)),
              calls[0].in[kEdx]);
    EXPECT_EQ(0x1F, theDiskChannel.driveMapInfo[0]);
    // Two level-0 locks on unit 0x83 from byte 3, not on drive 5: without and
    // with the formatting permission.
    for (int i = 1; i <= 2; ++i) {
      EXPECT_EQ(0x084Bu, calls[i].in[kEcx]);
      EXPECT_EQ(0x0083u, calls[i].in[kEbx]);
      EXPECT_EQ(i == 1 ? 0u : 4u, calls[i].in[kEdx]);
      EXPECT_EQ(0u, calls[i].in[kEdi] | calls[i].in[kEsi] | calls[i].in[kFlags]);
    }
    EXPECT_EQ(0, theDiskChannel.UnlockVolume());
    ASSERT_EQ(6u, calls.size());
    EXPECT_EQ(0x086Fu, calls[3].in[kEcx]);
    for (int i = 4; i <= 5; ++i) {
      EXPECT_EQ(0x086Bu, calls[i].in[kEcx]);
      EXPECT_EQ(0x83u, calls[i].in[kEbx]);
      EXPECT_EQ(0u, calls[i].in[kEdx]);
    }
    EXPECT_TRUE(FreeForOthers(image));
    EXPECT_EQ(-1, theDiskChannel.UnlockVolume()) << "nothing left to unlock";
    theDiskChannel.Close();
  }
}

TEST_F(ChannelTest, CarryFlagCountsAsFailureThoughTheCallCompleted) {
  int other = open(image.c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_GE(other, 0);
  ASSERT_EQ(0, flock(other, LOCK_EX | LOCK_NB));
  theDiskChannel.Open();
  theDiskChannel.driveLetter = 'E';
  EXPECT_EQ(-1, theDiskChannel.LockVolume());
  const auto& calls = Vwin32Calls();
  ASSERT_EQ(2u, calls.size()) << "the second lock is not tried";
  EXPECT_TRUE(calls[1].returned);
  EXPECT_EQ(1u, calls[1].out[kFlags] & 1);
  close(other);
  EXPECT_EQ(0, theDiskChannel.LockVolume());
}

TEST_F(ChannelTest, CloseGivesTheLockBack) {
  theDiskChannel.Open();
  theDiskChannel.driveLetter = 'E';
  ASSERT_EQ(0, theDiskChannel.LockVolume());
  theDiskChannel.Close();
  EXPECT_TRUE(FreeForOthers(image));
  EXPECT_EQ(nullptr, theDiskChannel.passThroughHandle);
  EXPECT_EQ(INVALID_HANDLE_VALUE, theDiskChannel.vwin32Handle);
}

TEST_F(ChannelTest, WithoutVwin32EveryLockFails) {
  theDiskChannel.Open();
  HANDLE vwin32 = theDiskChannel.vwin32Handle;
  theDiskChannel.vwin32Handle = INVALID_HANDLE_VALUE;
  theDiskChannel.driveLetter = 'E';
  EXPECT_EQ(-1, theDiskChannel.LockVolume());
  EXPECT_EQ(-1, theDiskChannel.UnlockVolume());
  EXPECT_TRUE(FreeForOthers(image));
  theDiskChannel.vwin32Handle = vwin32;
}

TEST_F(ChannelTest, LetterOfAnotherDiskLocksNothingOnTheCard) {
  theDiskChannel.Open();
  theDiskChannel.driveLetter = 'c';
  EXPECT_EQ(0, theDiskChannel.LockVolume());
  EXPECT_EQ(0x80u, Vwin32Calls()[1].in[kEbx]);
  EXPECT_TRUE(FreeForOthers(image));
}

// Sends one byte down a pipe; reads one back ('?' at end of file).
void Send(int fd, char c) {
  ASSERT_EQ(1, write(fd, &c, 1));
}
char Receive(int fd) {
  char c = '?';
  return read(fd, &c, 1) == 1 ? c : '?';
}

// Ends the other process however the test leaves: its pipe closes, so it
// stops waiting, and it is killed if still there.
struct ChildGuard {
  pid_t pid;
  int toChild;
  int fromChild;
  ~ChildGuard() {
    close(toChild);
    close(fromChild);
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
};

TEST_F(ChannelTest, SecondProcessIsRefusedUntilTheFirstClosesItsChannel) {
  int toChild[2], toParent[2];
  ASSERT_EQ(0, pipe(toChild));
  ASSERT_EQ(0, pipe(toParent));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other process: its own channel on the same machine and card.
    close(toChild[1]);
    close(toParent[0]);
    if (Receive(toChild[0]) != 'g') _exit(1);
    theDiskChannel.Open();
    theDiskChannel.driveLetter = 'E';
    char first = theDiskChannel.LockVolume() == 0 ? 'L' : 'R';
    if (write(toParent[1], &first, 1) != 1 || Receive(toChild[0]) != 'g') _exit(1);
    char second = theDiskChannel.LockVolume() == 0 ? 'L' : 'R';
    theDiskChannel.Close();
    _exit(write(toParent[1], &second, 1) == 1 ? 0 : 1);
  }
  close(toChild[0]);
  close(toParent[1]);
  ChildGuard guard{child, toChild[1], toParent[0]};

  theDiskChannel.Open();
  theDiskChannel.driveLetter = 'E';
  ASSERT_EQ(0, theDiskChannel.LockVolume());
  Send(toChild[1], 'g');
  EXPECT_EQ('R', Receive(toParent[0])) << "refused while this process holds the card";
  theDiskChannel.Close();
  Send(toChild[1], 'g');
  EXPECT_EQ('L', Receive(toParent[0])) << "taken once this process closed its channel";
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  guard.pid = 0;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(FreeForOthers(image)) << "the child's close gave it back";
}

TEST_F(ChannelTest, LockHeldByTheFlockToolIsRefusedUntilItEnds) {
  theDiskChannel.Open();  // creates the image
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    setpgid(0, 0);
    execlp("flock", "flock", image.c_str(), "sleep", "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  setpgid(holder, holder);
  struct HolderGuard {
    pid_t group;
    ~HolderGuard() {
      kill(-group, SIGKILL);
      waitpid(group, nullptr, 0);
    }
  } guard{holder};
  for (int i = 0; i < 500 && FreeForOthers(image); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(FreeForOthers(image)) << "flock did not take the lock";
  theDiskChannel.driveLetter = 'E';
  EXPECT_EQ(-1, theDiskChannel.LockVolume());

  kill(-holder, SIGKILL);
  // The sleep holding the inherited descriptor dies with the process group.
  for (int i = 0; i < 500 && !FreeForOthers(image); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(0, theDiskChannel.LockVolume());
}

}  // namespace
