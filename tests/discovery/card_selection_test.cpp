#include <gtest/gtest.h>

#include <cstring>

#include "discovery/card_device_table.h"
#include "discovery/drive_letter_map.h"

namespace {

struct Card {
  const char* name;
  int isPcCard;
  const char* letters;
};

CardDeviceTable TableOf(std::initializer_list<Card> cards) {
  CardDeviceTable table;
  std::memset(&table, 0, sizeof table);
  for (const Card& card : cards) {
    CardDeviceRecord& record = table.records[table.recordCount++];
    std::strcpy(record.cardName, card.name);
    record.isPcCard = card.isPcCard;
    std::strcpy(record.driveLetters, card.letters);
  }
  return table;
}

TEST(CardSelection, FindByNameIgnoresCaseAndMatchesPrefixesOfPcCardsOnly) {
  CardDeviceTable table = TableOf({{"KESTREL", 0, "C"},
                                   {"KEST", 1, ""},
                                   {"kEsTrELDISK", 1, "E"},
                                   {"KESTREL", 1, "F"},
                                   {"KESTRELDISK", 1, "G"}});
  EXPECT_EQ(table.FindByName("KESTREL"), 2);
  EXPECT_EQ(table.FindByName("kestrel\\"), -1);
  EXPECT_EQ(table.FindByName("KESTRELDISKS"), -1);
  EXPECT_EQ(table.FindByName(""), 1);

  table.records[2].isPcCard = 0;
  EXPECT_EQ(table.FindByName("KESTREL"), 3);
  // Only exactly 1 marks a card, and records past the count are never looked at.
  table.records[3].isPcCard = 2;
  EXPECT_EQ(table.FindByName("KESTREL"), 4);
  table.recordCount = 4;
  EXPECT_EQ(table.FindByName("KESTREL"), -1);
}

TEST(CardSelection, FindByNameFoldsOnlyTheLettersAToZ) {
  // '@' and '`' sit 32 apart like the letters, yet are different characters.
  CardDeviceTable table = TableOf({{"A@B", 1, ""}, {"a`b", 1, ""}});
  EXPECT_EQ(table.FindByName("a`B"), 1);
  EXPECT_EQ(table.FindByName("A@b"), 0);
  EXPECT_EQ(table.FindByName("A[B"), -1);
}

TEST(CardSelection, IsDistinctComparesExactNamesOfOtherPcCards) {
  CardDeviceTable table = TableOf({{"ABC", 1, ""}, {"abc", 1, ""}});
  EXPECT_EQ(table.IsDistinct(0), 0);
  EXPECT_EQ(table.IsDistinct(1), 0);

  table = TableOf({{"ABC", 1, ""}, {"XYZ", 1, ""}, {"ABC", 1, ""}});
  EXPECT_EQ(table.IsDistinct(0), -1);
  EXPECT_EQ(table.IsDistinct(2), -1);
  EXPECT_EQ(table.IsDistinct(1), 0);

  // A name shared only with a record that is not a PC Card is distinct, and
  // a prefix of a name is not the same name.
  table = TableOf({{"ABC", 0, "C"}, {"ABC", 1, "E"}, {"ABCD", 1, "F"}});
  EXPECT_EQ(table.IsDistinct(1), 0);
  EXPECT_EQ(table.IsDistinct(2), 0);
  // The record asked about is compared whatever its own mark.
  EXPECT_EQ(table.IsDistinct(0), -1);

  table = TableOf({{"", 0, "C"}, {"ONLY", 1, "E"}});
  EXPECT_EQ(table.IsDistinct(1), 0);
}

TEST(CardSelection, SelectLeavesOnlyTheChosenRecordMarked) {
  CardDeviceTable table = TableOf(
      {{"ONE", 1, "E"}, {"TWO", 1, "F"}, {"THREE", 1, "G"}, {"FOUR", 1, "H"}, {"", 0, "C"}});
  CardDeviceTable before = table;
  table.Select(2);
  for (int i = 0; i < table.recordCount; ++i) {
    EXPECT_EQ(table.records[i].isPcCard, i == 2 ? 1 : 0) << "record " << i;
    EXPECT_STREQ(table.records[i].cardName, before.records[i].cardName);
    EXPECT_STREQ(table.records[i].driveLetters, before.records[i].driveLetters);
  }
  EXPECT_EQ(table.FindByName(""), 2);

  // A fixed disk can be marked too: Select does not look at the old marks.
  table.Select(4);
  EXPECT_EQ(table.FindByName(""), 4);
  EXPECT_EQ(table.IsDistinct(4), 0);
}

TEST(DriveLetterMap, HandsOutTheLowestFreeLetterAfterTheScannedOnes) {
  DriveLetterMap map;
  std::memset(map.slots, 'x', sizeof map.slots);
  map.Reset();
  EXPECT_EQ(map.slots[0], 'A');
  EXPECT_EQ(map.slots[1], 'B');
  for (int i = 2; i < DriveLetterMap::kSlots; ++i) EXPECT_EQ(map.slots[i], 0) << i;

  // Letters of every record count, PC Card or not; a character that names no
  // slot is passed over.
  CardDeviceTable table = TableOf({{"", 0, "C"}, {"CARD", 1, "DE"}, {"", 0, ""}, {"", 0, "a9"}});
  map.MarkUsed(table);
  EXPECT_EQ(map.TakeFreeLetter(), 'F');
  EXPECT_EQ(map.TakeFreeLetter(), 'G');

  map.Reset();
  EXPECT_EQ(map.TakeFreeLetter(), 'C');
}

TEST(DriveLetterMap, MarkUsedOnlyAddsAndLooksAtFiledRecords) {
  DriveLetterMap map;
  map.Reset();
  EXPECT_EQ(map.TakeFreeLetter(), 'C');
  CardDeviceTable table = TableOf({{"", 0, "D"}, {"", 0, "E"}});
  table.recordCount = 1;
  map.MarkUsed(table);
  EXPECT_EQ(map.slots[2], 'C');
  EXPECT_EQ(map.TakeFreeLetter(), 'E');
}

TEST(DriveLetterMap, GoesPastZThroughTheSixFollowingCharactersThenRunsOut) {
  DriveLetterMap map;
  map.Reset();
  CardDeviceTable table = TableOf({{"", 0, "CDEFGHIJKLMNOPQRSTUVWXYZ"}});
  map.MarkUsed(table);
  for (char expected : {'[', '\\', ']', '^', '_', '`'}) EXPECT_EQ(map.TakeFreeLetter(), expected);
  char full[DriveLetterMap::kSlots];
  std::memcpy(full, map.slots, sizeof full);
  EXPECT_EQ(map.TakeFreeLetter(), 0);
  EXPECT_EQ(std::memcmp(full, map.slots, sizeof full), 0);

  // The characters after Z can be marked and released like letters.
  map.ReleaseLetter('_');
  EXPECT_EQ(map.TakeFreeLetter(), '_');
}

// Set up as GoesPastZ... above (a table of letters marked); what differs is
// the letters and what is released.
TEST(DriveLetterMap, ReleaseLetterFreesOnlyTheSlotItNames) {
  DriveLetterMap map;
  map.Reset();
  CardDeviceTable table = TableOf({{"", 0, "CDE"}});
  map.MarkUsed(table);
  map.ReleaseLetter('E');
  map.ReleaseLetter('E');
  EXPECT_EQ(map.TakeFreeLetter(), 'E');

  char before[DriveLetterMap::kSlots];
  std::memcpy(before, map.slots, sizeof before);
  for (char outside : {'\0', '@', 'a', '{', '\x7f', '\xC1'}) map.ReleaseLetter(outside);
  EXPECT_EQ(std::memcmp(before, map.slots, sizeof before), 0);
  EXPECT_EQ(map.TakeFreeLetter(), 'F');
}

// The run-wide map is reset by static initialisation, before any code of the
// run: only A and B are taken.
TEST(DiscoveryStart, LetterMapIsResetBeforeTheRun) {
  EXPECT_EQ(theDriveLetterMap.slots[0], 'A');
  EXPECT_EQ(theDriveLetterMap.slots[1], 'B');
  for (int i = 2; i < DriveLetterMap::kSlots; ++i) EXPECT_EQ(theDriveLetterMap.slots[i], 0) << i;
}

}  // namespace
