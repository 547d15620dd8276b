// The Windows build's own formatter against the host C library's snprintf:
// the same text, the same returned length, the same truncation.
#include "win32/text_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

int Format(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int length = FormatText(out, size, format, args);
  va_end(args);
  return length;
}

// Both formatters into buffers of the given size, compared.
template <typename... Args>
void ExpectSameAsHost(size_t size, const char* format, Args... args) {
  char ours[128];
  char host[128];
  memset(ours, '#', sizeof ours);
  memset(host, '#', sizeof host);
  int ourLength = Format(ours, size, format, args...);
  int hostLength = snprintf(host, size, format, args...);
  EXPECT_EQ(ourLength, hostLength) << "format \"" << format << "\", size " << size;
  EXPECT_EQ(std::string(ours, sizeof ours), std::string(host, sizeof host))
      << "format \"" << format << "\", size " << size;
}

TEST(TextFormat, IntegersAsTheCLibraryWritesThem) {
  const char* formats[] = {"%d",    "%5d",     "%-5d|",  "%05d", "%+d",    "% d",  "%.3d",
                           "%8.3d", "%-8.3d|", "%08.3d", "%.0d", "%u",     "%x",   "%X",
                           "%08x",  "%#x",     "%#X",    "%#o",  "%o",     "%4i",  "%-+6d|",
                           "%2d",   "%.0x",    "%#.0o",  "%#8x", "%-#8x|", "%05x", "%*d"};
  const int values[] = {0, 1, -1, 7, 42, -42, 255, 4096, 99999, -123456, INT_MAX, INT_MIN};
  for (const char* format : formats) {
    for (int value : values) {
      if (std::string(format) == "%*d") {
        ExpectSameAsHost(128, format, 7, value);
        ExpectSameAsHost(128, format, -7, value);
      } else {
        ExpectSameAsHost(128, format, value);
      }
    }
  }
}

TEST(TextFormat, SizesOfIntegerArguments) {
  ExpectSameAsHost(128, "%ld %lu %lx", -5L, 5UL, 0xdeadL);
  ExpectSameAsHost(128, "%lld %llu %llx", LLONG_MIN, ULLONG_MAX, 0x123456789abcdefLL);
  ExpectSameAsHost(128, "%hd %hu %hhd %hhu", 70000, 70000, 300, 300);
  ExpectSameAsHost(128, "%zu %zd %jd %td", static_cast<size_t>(12345), static_cast<size_t>(7),
                   static_cast<intmax_t>(-9), static_cast<ptrdiff_t>(-3));
  ExpectSameAsHost(128, "%#llo %llX", 01234567012345670123ULL, 0xFEDCBA9876543210ULL);
}

TEST(TextFormat, TextAndCharacters) {
  const char* texts[] = {"", "A", "FAT16", "PC Card HDD", "a rather longer text than ten"};
  const char* formats[] = {"%s", "%11s", "%-8s|", "%.3s", "%8.3s", "%-8.0s|", "[%s]"};
  for (const char* format : formats) {
    for (const char* text : texts) ExpectSameAsHost(128, format, text);
  }
  ExpectSameAsHost(128, "%c%c%3c%-3c|", 'Y', 'N', 'x', 'z');
  ExpectSameAsHost(128, "%*s|%-*s|%.*s", 6, "ab", 6, "cd", 2, "efgh");
  ExpectSameAsHost(128, "100%% of %s", "the card");
}

TEST(TextFormat, TruncatesLikeSnprintfAndCountsTheWholeText) {
  for (size_t size : {0u, 1u, 2u, 5u, 9u, 10u, 11u}) {
    ExpectSameAsHost(size, "%s%d", "abcdefg", 12345);
    ExpectSameAsHost(size, "%08x", 0xabcu);
  }
}

TEST(TextFormat, TheMainScreenLines) {
  ExpectSameAsHost(128, "Physical %5d cylinders x %3d heads x %2d sectors", 490, 8, 32);
  ExpectSameAsHost(128, "%-8s %4d %4d %4d %4d %4d %4d %4d          %11s", "FAT16", 0, 1, 1, 489, 7,
                   32, 61, "NO NAME");
  ExpectSameAsHost(128, "%08x", 0x2a0u);
  ExpectSameAsHost(128, "%s\\%s", "Enum\\PCMCIA", "0001");
}

TEST(TextFormat, AnUnknownConversionIsCopiedAsWritten) {
  char out[32];
  EXPECT_EQ(Format(out, sizeof out, "a%qb%"), 5);
  EXPECT_STREQ(out, "a%qb%");
  EXPECT_EQ(Format(out, sizeof out, "%-5y|%d", 3), 6);
  EXPECT_STREQ(out, "%-5y|3");
}

}  // namespace
