#include "sim/sector_list.h"

#include <gtest/gtest.h>

namespace {

TEST(SectorList, ReadsNumbersAndRanges) {
  std::vector<sim::SectorRange> ranges;
  std::string error;
  ASSERT_TRUE(sim::ParseSectorList("0, 5000-5010 ,4294967295", &ranges, &error)) << error;
  ASSERT_EQ(3u, ranges.size());
  EXPECT_EQ(0u, ranges[0].first);
  EXPECT_EQ(0u, ranges[0].last);
  EXPECT_EQ(5000u, ranges[1].first);
  EXPECT_EQ(5010u, ranges[1].last);
  EXPECT_EQ(4294967295u, ranges[2].last);
  ASSERT_TRUE(sim::ParseSectorList("", &ranges, &error));
  EXPECT_EQ(3u, ranges.size());
}

TEST(SectorList, RejectsMalformedItemsWithoutChangingTheList) {
  for (const char* text : {"5,", "a", "10-5", "1-", "-3", "1;2", "4294967296", "1--2"}) {
    std::vector<sim::SectorRange> ranges;
    std::string error;
    EXPECT_FALSE(sim::ParseSectorList(text, &ranges, &error)) << text;
    EXPECT_TRUE(ranges.empty()) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
