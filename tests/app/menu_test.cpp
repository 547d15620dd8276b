// The main menu's input field as the user meets it in a terminal.
#include <gtest/gtest.h>

#include <string>

#include "support/machine_text.h"
#include "support/program_run.h"
#include "support/support.h"

using namespace testsupport;

namespace {

const char kInputKeyError[] = "input key error";

}  // namespace

TEST(Menu, RefusedKeysShowAnErrorThatTheNextKeyRemoves) {
  TempDir dir;
  MachineCard card;
  card.model = "KESTREL 100%s%d CF";  // printed as it is, never as a format
  CreateImage(dir.File("pccard.img"), card);
  ProgramRun run(dir.path(), WriteMachine(dir.path(), "m.reg", MachineText(card)));
  Screen screen;
  ASSERT_TRUE(run.WaitForKeyWait(&screen));
  EXPECT_EQ("KESTREL 100%s%d CF", screen.At(14, 4, 18));
  EXPECT_EQ("[1]", screen.At(20, 20, 3));

  ASSERT_TRUE(run.Type("x", &screen));
  EXPECT_EQ(kInputKeyError, screen.At(20, 24, 15));
  EXPECT_EQ("[1]", screen.At(20, 20, 3));
  EXPECT_EQ(21, screen.cursorColumn) << "the cursor stays on the field";
  EXPECT_EQ(20, screen.cursorRow);

  ASSERT_TRUE(run.Type("2", &screen));
  EXPECT_EQ("", screen.rows[24]) << "the next key blanks the message row";
  EXPECT_EQ("[2]", screen.At(20, 20, 3));

  ASSERT_TRUE(run.Type("l", &screen));
  EXPECT_EQ("[L]", screen.At(20, 20, 3));
  ASSERT_TRUE(run.Type(kBackspace, &screen));
  EXPECT_EQ("[ ]", screen.At(20, 20, 3));
  ASSERT_TRUE(run.Type(kBackspace, &screen));
  EXPECT_EQ(kInputKeyError, screen.At(20, 24, 15));
  // Enter on the empty field is no answer.
  ASSERT_TRUE(run.Type(kEnter, &screen));
  EXPECT_EQ(kInputKeyError, screen.At(20, 24, 15));
  EXPECT_EQ("[ ]", screen.At(20, 20, 3));

  // A cursor key is two codes, the lead code and 'H', both refused; the
  // program waits again only once both are read.
  ASSERT_TRUE(run.Type(kUpArrow, &screen));
  EXPECT_EQ(kInputKeyError, screen.At(20, 24, 15));
  EXPECT_EQ("[ ]", screen.At(20, 20, 3));

  ASSERT_TRUE(run.Type("2", &screen));
  // "2" without a plan ends the run with nothing to write.
  EXPECT_EQ(0, run.TypeAndWaitExit(kEnter));
}
