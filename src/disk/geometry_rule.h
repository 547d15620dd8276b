// The rules of a card's geometry that the card disk opens with and that the
// Linux host's boot applies to a geometry the user gives, before anything is
// shown: the translation to the logical geometry of the partition entries,
// and what makes a geometry unaddressable. It depends on nothing but the
// CHS field widths.
#pragma once

#include <cstdint>

#include "disk/packed_chs.h"

// What CheckCardGeometry finds wrong with a physical geometry, or
// kGeometryAddressable.
const int kGeometryAddressable = 0;
const int kGeometryEmpty = 1;             // no cylinders, heads or sectors
const int kGeometryTooManySectors = 2;    // more than a CHS address names
const int kGeometryTooManyHeads = 3;      // more than 256 after the translation
const int kGeometryCylindersOutgrow = 4;  // the translation doubles the cylinders

// The logical geometry of a card: cylinders halved and heads doubled until
// the cylinders fit a partition entry.
inline void TranslateCardGeometry(int32_t cylinders, int32_t heads, int32_t sectors,
                                  int32_t* logicalCylinders, int32_t* logicalHeads,
                                  int32_t* logicalSectors) {
  int32_t c = cylinders;
  int32_t h = heads;
  while (c > kMaxEntryCylinders) {
    // A translation that would need more heads than an entry can name undoes
    // its last halving.
    if (h > kMaxEntryHeads) {
      c *= 2;
      h /= 2;
      break;
    }
    c /= 2;
    h *= 2;
  }
  *logicalCylinders = c;
  *logicalHeads = h;
  *logicalSectors = sectors;
}

// Whether a physical geometry can be addressed through its translation.
inline int CheckCardGeometry(int32_t cylinders, int32_t heads, int32_t sectors) {
  // Every conversion divides by these counts, and a card that reports none
  // (an empty or broken IDENTIFY, words of 0x8000 and more) cannot be
  // addressed. Sector numbers have 6 bits in a CHS address, and a translated
  // head count above 256 does not fit the 8-bit head field of an entry.
  if (cylinders <= 0 || heads <= 0 || sectors <= 0) return kGeometryEmpty;
  if (sectors > kMaxEntrySectors) return kGeometryTooManySectors;
  int32_t c = 0;
  int32_t h = 0;
  int32_t s = 0;
  TranslateCardGeometry(cylinders, heads, sectors, &c, &h, &s);
  if (h > kMaxEntryHeads) return kGeometryTooManyHeads;
  // More than 256 heads at the top of a translation pass double the
  // cylinders instead of halving them; straight away, with no halving before
  // it, the logical disk has more cylinders than the physical one, a logical
  // cylinder is no whole number of physical ones, and every logical address
  // would land on physical cylinder 0.
  if (c > cylinders) return kGeometryCylindersOutgrow;
  return kGeometryAddressable;
}
