// The partition pool, its chains and the type names.
#include "disk/partition_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

class PartitionListTest : public ::testing::Test {
 protected:
  void SetUp() override { list->Init(1, MakePackedChs(999, 15, 63)); }

  PartitionEntry* Insert(int sc, int ec, const char* label = "", int sh = 0, int eh = 0) {
    PartitionEntry value = {};
    PartitionList::FillEntry(&value, 0, 6, 0, kKindPrimary, MakePackedChs(sc, sh, 1),
                             MakePackedChs(ec, eh, 1), 0, label, "");
    return list->InsertPrimary(value);
  }
  std::string Labels() {
    PartitionEntry* entries[PartitionList::kSlots];
    int count = list->Enumerate(entries);
    std::string text;
    for (int i = 0; i < count; ++i) text += std::string(entries[i]->label) + " ";
    return text;
  }

  std::unique_ptr<PartitionList> list{new PartitionList};
};

TEST_F(PartitionListTest, PrimaryChainOrder) {
  PartitionEntry* none[1] = {nullptr};
  EXPECT_EQ(list->Enumerate(none), 0);
  EXPECT_EQ(none[0], nullptr);

  Insert(501, 999, "B", 0, 15);
  Insert(0, 500, "A", 1, 15);
  EXPECT_EQ(Labels(), "A B ");
  list->Init(1, MakePackedChs(999, 15, 63));
  Insert(0, 500, "A", 1, 15);
  Insert(501, 999, "B", 0, 15);
  EXPECT_EQ(Labels(), "A B ");

  // Overlaps: the new entry's end decides. Equal entries keep insert order,
  // and an entry ending where another starts goes after it.
  list->Init(1, MakePackedChs(999, 15, 63));
  Insert(100, 200, "OLD");
  Insert(50, 150, "NEW");
  Insert(100, 200, "SAME");
  Insert(5, 100, "TOUCH");
  Insert(1, 99, "BEFORE");
  EXPECT_EQ(Labels(), "BEFORE OLD NEW SAME TOUCH ");
  EXPECT_EQ(list->slots[1].parent, &list->slots[0]);
}

TEST_F(PartitionListTest, FullPoolRefusesAndChangesNothing) {
  for (int i = 1; i < PartitionList::kSlots; ++i) ASSERT_NE(Insert(i, i), nullptr);
  PartitionList before = *list;
  EXPECT_EQ(Insert(0, 0), nullptr);
  EXPECT_EQ(list->InsertLogical(&list->slots[1], list->slots[1]), nullptr);
  EXPECT_EQ(0, memcmp(&before, list.get(), sizeof before));
}

TEST_F(PartitionListTest, RemovePrimaryFreesSlotForReuse) {
  Insert(1, 1, "A");
  Insert(2, 2, "B");
  Insert(3, 3, "C");
  EXPECT_EQ(list->RemovePrimary(MakePackedChs(2, 0, 2)), -1);
  EXPECT_EQ(list->RemovePrimary(1), -1) << "the head is not in the chain";
  EXPECT_EQ(Labels(), "A B C ");
  EXPECT_EQ(list->RemovePrimary(MakePackedChs(2, 0, 1)), 0);
  EXPECT_EQ(Labels(), "A C ");
  EXPECT_EQ(list->slots[2].type, 0);
  EXPECT_EQ(Insert(9, 9, "D"), &list->slots[2]);
}

TEST_F(PartitionListTest, LogicalChainHangsOffOwner) {
  PartitionEntry* owner = Insert(100, 199, "EXT");
  PartitionEntry value = *owner;
  value.start = MakePackedChs(150, 1, 1);
  PartitionEntry* later = list->InsertLogical(owner, value);
  value.start = MakePackedChs(100, 1, 1);
  value.end = MakePackedChs(149, 0, 1);
  PartitionEntry* earlier = list->InsertLogical(owner, value);
  EXPECT_EQ(owner->nextLogical, earlier);
  EXPECT_EQ(earlier->nextLogical, later);
  EXPECT_EQ(later->parent, owner);
  EXPECT_EQ(later->nextPrimary, nullptr);
  EXPECT_EQ(Labels(), "EXT ");
}

TEST(PartitionTypeNames, KnownTypesAndFallback) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0x00, "UNUSED"},   {0x01, "FAT12"},  {0x04, "FAT16"},  {0x05, "EXT"},
      {0x06, "FAT16big"}, {0x0B, "FAT32"},  {0x0C, "FAT32X"}, {0x0E, "FAT16X"},
      {0x0F, "EXTX"},     {0x07, "NONDOS"}, {0x83, "NONDOS"}, {0xFF, "NONDOS"}};
  for (const auto& c : cases) {
    PartitionEntry entry = {};
    entry.type = static_cast<uint8_t>(c.first);
    EXPECT_EQ(PartitionList::TypeName(&entry), c.second) << "type " << c.first;
  }
}

}  // namespace
