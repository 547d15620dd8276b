// Cards by the dozen: eight loop devices written at once by eight --yes
// processes, each locking only its own card, picked out of --list --json by
// jq as a script would; a ninth card that another process holds is refused
// and left as it was while the others are written.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/image.h"
#include "support/loop_device.h"
#include "support/machine_text.h"
#include "tool/mode_run.h"

using namespace testsupport;

namespace {

const int kCards = 9;  // the last one held by another process
const std::string kGeometry = "1016x16x63";

}  // namespace

TEST(Fleet, EightCardsAreWrittenAtOnceAndAHeldOneIsLeftAlone) {
  TempDir dir;
  std::vector<std::string> images;
  std::vector<std::string> before;
  std::vector<std::unique_ptr<LoopDevice>> loops;
  for (int i = 0; i < kCards; ++i) {
    images.push_back(dir.File("card" + std::to_string(i) + ".img"));
    CreateImage(images.back(), MachineCardOf(1016, 16, 63));
    // An older table on each, as cards come back from the field.
    ASSERT_EQ("0:", Shell("echo 'start=2048,type=83' | sfdisk -q '" + images.back() + "'"));
    before.push_back(ImageFingerprint(images.back()));
    loops.push_back(std::make_unique<LoopDevice>(images.back()));
    if (!loops.back()->usable()) GTEST_SKIP() << loops.back()->reason();
  }
  ExclusiveHolder other(loops.back()->path());
  ASSERT_TRUE(other.holding());
  // The cards as --list --json gives them, their paths picked by jq.
  std::string list = dir.File("cards.txt");
  for (const auto& loop : loops) {
    ASSERT_EQ("0:",
              Shell("'" DUNMORE_EXE "' --list --json --geometry " + kGeometry + " " + loop->path() +
                    " | jq -r '.cards[] | select(.writable and .partitions[0].type == \"83\") | "
                    ".path' >> '" +
                    list + "'"));
  }
  const std::string listed = ReadFile(list);
  ASSERT_EQ(kCards, std::count(listed.begin(), listed.end(), '\n')) << listed;
  // One card's run: its output and exit code beside the images.
  const std::string script = dir.File("each.sh");
  WriteFile(script, "n=$(basename \"$1\")\n'" DUNMORE_EXE "' --yes --clock 1000000000 --geometry " +
                        kGeometry + " \"$1\" >'" + dir.path() + "'/$n.out 2>&1\necho $? >'" +
                        dir.path() + "'/$n.code\n");
  ASSERT_EQ("0:", Shell("xargs -P8 -n1 sh '" + script + "' <'" + list + "'"));
  for (int i = 0; i < kCards; ++i) {
    SCOPED_TRACE(loops[i]->path());
    const std::string name = loops[i]->Name();
    const std::string out = ReadFile(dir.File(name + ".out"));
    if (i == kCards - 1) {
      EXPECT_EQ("1\n", ReadFile(dir.File(name + ".code"))) << out;
      EXPECT_NE(std::string::npos, out.find("PC Card HDD used other!\n")) << out;
    } else {
      EXPECT_EQ("0\n", ReadFile(dir.File(name + ".code"))) << out;
    }
  }
  loops.clear();
  for (int i = 0; i < kCards - 1; ++i) ExpectJudgedPartition(dir, images[i], 63, 1024065, "6");
  EXPECT_EQ(before.back(), ImageFingerprint(images.back())) << "the held card was changed";
}
