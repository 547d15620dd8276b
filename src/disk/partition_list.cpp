// The partition list: a fixed pool of entries linked into a primary chain
// that hangs off slot 0, each entry with a logical chain of its own.
#include "disk/partition_list.h"

#include <cstddef>

// The 0xFF row ends the table and names every type that no row before it
// names; the listing prints names in an 8-character column.
const PartitionTypeName PartitionTypeNames[] = {
    {0x00, "UNUSED"}, {0x01, "FAT12"},  {0x04, "FAT16"},  {0x05, "EXT"},  {0x06, "FAT16big"},
    {0x0B, "FAT32"},  {0x0C, "FAT32X"}, {0x0E, "FAT16X"}, {0x0F, "EXTX"}, {0xFF, "NONDOS"},
};

namespace {

// Copies at most capacity - 1 characters and always terminates.
void CopyText(char* destination, size_t capacity, const char* source) {
  size_t length = 0;
  if (source != nullptr) {
    while (length + 1 < capacity && source[length] != '\0') {
      destination[length] = source[length];
      ++length;
    }
  }
  destination[length] = '\0';
}

}  // namespace

PartitionList* PartitionList::Init(PackedChs start, PackedChs end) {
  for (PartitionEntry& slot : slots) slot = PartitionEntry{};
  FillEntry(&slots[0], 0, 0, 0, kKindHead, start, end, 0, "", "");
  return this;
}

void PartitionList::FillEntry(PartitionEntry* entry, uint8_t isNew, uint8_t type, char driveLetter,
                              uint8_t kind, PackedChs start, PackedChs end, uint32_t sizeMb,
                              const char* label, const char* system) {
  entry->isNew = isNew;
  entry->type = type;
  entry->driveLetter = driveLetter;
  entry->kind = kind;
  entry->start = start;
  entry->end = end;
  entry->sizeMb = sizeMb;
  CopyText(entry->label, sizeof entry->label, label);
  CopyText(entry->system, sizeof entry->system, system);
}

PartitionEntry* PartitionList::AllocSlot(const PartitionEntry& value) {
  // Slot 0 is the head and is never handed out; a zero type marks a free slot.
  for (int i = 1; i < kSlots; ++i) {
    if (slots[i].type == 0) {
      slots[i] = value;
      return &slots[i];
    }
  }
  return nullptr;
}

void PartitionList::FreeSlot(PartitionEntry* entry) {
  *entry = PartitionEntry{};
}

namespace {

// Links entry into the chain that the link field threads from owner: before
// the first entry that starts beyond its end. The primaries hang from the
// head entry by nextPrimary, an extended partition's logicals by nextLogical.
void LinkInOrder(PartitionEntry* owner, PartitionEntry* entry,
                 PartitionEntry* PartitionEntry::*link) {
  PartitionEntry* previous = owner;
  while (previous->*link != nullptr && entry->end >= (previous->*link)->start) {
    previous = previous->*link;
  }
  entry->*link = previous->*link;
  previous->*link = entry;
  entry->parent = owner;
}

}  // namespace

PartitionEntry* PartitionList::InsertPrimary(const PartitionEntry& value) {
  PartitionEntry* entry = AllocSlot(value);
  if (entry == nullptr) return nullptr;
  LinkInOrder(&slots[0], entry, &PartitionEntry::nextPrimary);
  entry->nextLogical = nullptr;
  return entry;
}

PartitionEntry* PartitionList::InsertLogical(PartitionEntry* owner, const PartitionEntry& value) {
  PartitionEntry* entry = AllocSlot(value);
  if (entry == nullptr) return nullptr;
  LinkInOrder(owner, entry, &PartitionEntry::nextLogical);
  entry->nextPrimary = nullptr;
  return entry;
}

int PartitionList::RemovePrimary(PackedChs start) {
  PartitionEntry* previous = &slots[0];
  for (PartitionEntry* current = previous->nextPrimary; current != nullptr;
       current = current->nextPrimary) {
    if (current->start == start) {
      previous->nextPrimary = current->nextPrimary;
      FreeSlot(current);
      return 0;
    }
    previous = current;
  }
  return -1;
}

int PartitionList::Enumerate(PartitionEntry** array) {
  int count = 0;
  for (PartitionEntry* entry = slots[0].nextPrimary; entry != nullptr; entry = entry->nextPrimary) {
    array[count++] = entry;
  }
  return count;
}

const char* PartitionList::TypeName(const PartitionEntry* entry) {
  const PartitionTypeName* row = PartitionTypeNames;
  while (row->type != entry->type && row->type != 0xFF) ++row;
  return row->name;
}
