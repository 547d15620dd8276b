// What holds a card, found by device numbers and never by names (as root,
// on loop devices; skipped where losetup refuses), and a place where the
// undo file cannot be made: each refused at the start-up in one line, with
// nothing written, made or changed.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "support/support.h"
#include "tool/mode_run.h"

using namespace testsupport;

namespace {

// A file system mounted for a test, unmounted when it ends.
struct Mounted {
  std::string point;
  bool mounted = false;
  ~Mounted() {
    if (mounted) umount(point.c_str());
  }
};

// A card image with an old partition at sector 2048 holding a file system
// the kernel here mounts.
std::string OldCard(const TempDir& dir, const std::string& name) {
  const std::string image = dir.File(name);
  CreateImage(image, MachineCard());
  EXPECT_EQ("0:", Shell("cd '" + dir.path() + "' && echo 'start=2048, type=83' | sfdisk -q '" +
                        name + "' && mkfs.ext2 -q -F -E offset=1048576 '" + name + "' 30000"));
  return image;
}

}  // namespace

TEST(CardHolders, EachHolderIsRefusedAtTheStartUpAndNothingChanges) {
  TempDir dir;
  const std::string cardImage = OldCard(dir, "card.img");
  LOOP_DEVICE_OR_SKIP(card, cardImage);
  // A loop device over the card's own device.
  LoopDevice over(card.path());
  ASSERT_TRUE(over.usable()) << over.reason();

  // The card's volume mounted through a loop device over another card's
  // device, with an offset, as mount -o offset= makes it.
  const std::string mountedImage = OldCard(dir, "mounted.img");
  LoopDevice mountedCard(mountedImage);
  ASSERT_TRUE(mountedCard.usable()) << mountedCard.reason();
  Mounted offset{dir.File("offset")};
  const std::string mounted =
      Shell("mkdir '" + offset.point + "' && mount -t ext2 -o offset=1048576,noatime " +
            mountedCard.path() + " '" + offset.point + "'");
  if (mounted != "0:") {
    GTEST_SKIP() << "this machine mounts no ext2 file system through a loop device: " << mounted;
  }
  offset.mounted = true;

  // A third card whose own file system, mounted, holds the undo folder.
  const std::string homeImage = dir.File("home.img");
  CreateImage(homeImage, MachineCard());
  ASSERT_EQ("0:", Shell("mkfs.ext2 -q -F '" + homeImage + "'"));
  LoopDevice homeCard(homeImage);
  ASSERT_TRUE(homeCard.usable()) << homeCard.reason();
  Mounted home{dir.File("home")};
  ASSERT_EQ("0:", Shell("mkdir '" + home.point + "'"));
  ASSERT_EQ(0, mount(homeCard.path().c_str(), home.point.c_str(), "ext2", MS_NOATIME, nullptr));
  home.mounted = true;

  // Images attached under a name that holds a line end, and under a name
  // that is gone, the file still there by another hard link.
  const std::string newline = "new\nline.img";
  CreateImage(dir.File(newline), MachineCard());
  LoopDevice newlineLoop(dir.File(newline));
  ASSERT_TRUE(newlineLoop.usable()) << newlineLoop.reason();
  CreateImage(dir.File("linked.img"), MachineCard());
  ASSERT_EQ(0, link(dir.File("linked.img").c_str(), dir.File("other-name.img").c_str()));
  auto unlinked = std::make_unique<LoopDevice>(dir.File("linked.img"));
  ASSERT_TRUE(unlinked->usable()) << unlinked->reason();
  ASSERT_EQ(0, unlink(dir.File("linked.img").c_str()));
  // A file behind a loop device that is no card of the run.
  CreateImage(dir.File("behind.img"), MachineCard());
  LoopDevice behind(dir.File("behind.img"));
  ASSERT_TRUE(behind.usable()) << behind.reason();
  CreateImage(dir.File("free.img"), MachineCard());
  // A file system mounted read-only, where no undo file can be made.
  Mounted readOnly{dir.File("read-only")};
  ASSERT_EQ("0:", Shell("mkdir '" + readOnly.point + "'"));
  ASSERT_EQ(0, mount("tmpfs", readOnly.point.c_str(), "tmpfs", MS_RDONLY, "size=64k"));
  readOnly.mounted = true;

  const std::string geometry = "--geometry 490x8x32 ";
  const struct {
    const char* what;
    std::string arguments;
    std::string environment;
    std::string said;
  } cases[] = {
      {"a loop device over the card's device", geometry + card.path(), "",
       "card " + card.path() + ": the card is in use: " + over.path() +
           " stands over it; detach it first"},
      {"a file system mounted with -o offset through a loop device over the card",
       geometry + mountedCard.path(), "",
       "card " + mountedCard.path() + ": the card is in use: /dev/loop"},
      {"the undo folder on the card's own mounted file system", geometry + homeCard.path(),
       "XDG_STATE_HOME='" + home.point + "/state' ",
       home.point + "/state/dunmore: the undo file would go onto the card " + homeCard.path() +
           " it keeps; name a folder elsewhere with --undo FILE"},
      {"--undo on the card's own mounted file system",
       geometry + "--undo '" + home.point + "/u.undo' " + homeCard.path(), "",
       "--undo " + home.point + "/u.undo: the undo file would go onto the card"},
      {"an image attached under a name holding a line end", "'" + newline + "'", "",
       "card new\\x0aline.img: is attached to " + newlineLoop.path() + "; detach it first"},
      {"an image attached, unlinked, and named by another hard link", "other-name.img", "",
       "card other-name.img: is attached to " + unlinked->path() + "; detach it first"},
      // Where the undo file cannot be made: no folder, a file system
      // mounted read-only.
      {"--undo in a missing folder", "--undo '" + dir.File("none/u.undo") + "' free.img", "",
       "--undo " + dir.File("none/u.undo") + ": there is no folder " + dir.File("none") +
           " to make it in"},
      {"--undo on a read-only file system", "--undo '" + readOnly.point + "/u.undo' free.img", "",
       "--undo " + readOnly.point + "/u.undo: no undo file can be made in " + readOnly.point +
           ": Read-only file system"},
      {"the undo folder on a read-only file system", geometry + behind.path(),
       "XDG_STATE_HOME='" + readOnly.point + "/state' ",
       readOnly.point + "/state/dunmore: no undo file can be made in " + readOnly.point +
           ": Read-only file system"},
      {"the screen dump naming another loop device's backing file", "free.img",
       "DUNMORE_SCREEN_DUMP='" + dir.File("behind.img") + "' ",
       "DUNMORE_SCREEN_DUMP=" + dir.File("behind.img") + ": is the file behind " + behind.path()},
  };
  const std::vector<std::string> images = {cardImage,
                                           mountedImage,
                                           homeImage,
                                           dir.File(newline),
                                           dir.File("other-name.img"),
                                           dir.File("behind.img"),
                                           dir.File("free.img")};
  // A mounted file system's images change when the kernel writes back what
  // the mount itself left dirty, at a time of its own: the two are synced
  // before each look, so that a change seen is one the run made.
  const auto settled = [&](const std::string& image) {
    EXPECT_EQ("0:", Shell("sync -f '" + offset.point + "' '" + home.point + "'"));
    return ImageFingerprint(image);
  };
  std::vector<std::string> before;
  for (const std::string& image : images) before.push_back(settled(image));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* mode : {"--yes --clock 1 ", "--dry-run "}) {
      ModeRun run = RunDunmore(dir, mode + c.arguments, c.environment);
      EXPECT_EQ(1, run.code) << mode << run.out << run.err;
      EXPECT_EQ(0u, run.err.find("dunmore: " + c.said)) << mode << run.err;
      EXPECT_EQ(1, std::count(run.err.begin(), run.err.end(), '\n')) << mode << run.err;
      EXPECT_EQ("", run.out) << mode;
    }
    for (size_t i = 0; i < images.size(); ++i) {
      EXPECT_EQ(before[i], settled(images[i])) << images[i];
    }
    std::string left;
    RunCommand("find '" + home.point + "' -name '*.undo'", &left);
    EXPECT_EQ("", left) << "an undo file on the card";
  }
  // The card is free again once what stood over it is gone.
  unlinked.reset();
  ModeRun free = RunDunmore(dir, "--dry-run other-name.img");
  EXPECT_EQ(0, free.code) << free.err;
}
