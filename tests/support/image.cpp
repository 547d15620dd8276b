#include "support/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace testsupport {

std::vector<uint8_t> ReadSectors(const std::string& image, uint64_t lba, uint32_t count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(count) * 512, 0);
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + image);
  ssize_t n = pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(lba * 512));
  close(fd);
  if (n < 0) throw std::runtime_error("cannot read " + image);
  return bytes;
}

void WriteSectorBytes(const std::string& image, uint64_t lba, const std::vector<uint8_t>& bytes) {
  int fd = open(image.c_str(), O_WRONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + image);
  ssize_t n = pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(lba * 512));
  close(fd);
  if (n != static_cast<ssize_t>(bytes.size())) throw std::runtime_error("cannot write " + image);
}

std::vector<std::pair<uint64_t, uint64_t>> DataExtents(const std::string& path) {
  std::vector<std::pair<uint64_t, uint64_t>> extents;
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return extents;
  off_t at = 0;
  for (;;) {
    off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0) break;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    extents.push_back({static_cast<uint64_t>(data), static_cast<uint64_t>(hole)});
    at = hole;
  }
  close(fd);
  return extents;
}

int64_t ReadData(const std::string& image, uint64_t begin, uint64_t end,
                 const std::function<void(uint64_t, const uint8_t*, size_t)>& visit) {
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  struct stat st;
  fstat(fd, &st);
  std::vector<uint8_t> chunk(1 << 20);
  for (const auto& extent : DataExtents(image)) {
    uint64_t pos = std::max(extent.first - extent.first % 16, begin);
    const uint64_t to = std::min(extent.second, end);
    while (pos < to) {
      ssize_t n =
          pread(fd, chunk.data(), static_cast<size_t>(std::min<uint64_t>(to - pos, chunk.size())),
                static_cast<off_t>(pos));
      if (n <= 0) break;
      visit(pos, chunk.data(), static_cast<size_t>(n));
      pos += static_cast<uint64_t>(n);
    }
  }
  close(fd);
  return st.st_size;
}

std::string ImageFingerprint(const std::string& image) {
  // FNV-1a over (offset, byte) of the data extents, then the size.
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint64_t value) {
    for (int i = 0; i < 8; ++i) {
      hash ^= (value >> (8 * i)) & 0xFF;
      hash *= 1099511628211ull;
    }
  };
  int64_t size =
      ReadData(image, 0, UINT64_MAX, [&mix](uint64_t pos, const uint8_t* bytes, size_t n) {
        for (size_t i = 0; i < n; ++i) {
          // Zero bytes are left out so that a hole and written zeros agree.
          if (bytes[i] != 0) {
            mix(pos + i);
            mix(bytes[i]);
          }
        }
      });
  if (size < 0) return "missing";
  mix(static_cast<uint64_t>(size));
  char text[40];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

void ExtractVolume(const std::string& image, uint64_t lba, uint64_t count,
                   const std::string& volume) {
  int out = open(volume.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) throw std::runtime_error("cannot extract from " + image);
  const uint64_t begin = lba * 512;
  const uint64_t end = (lba + count) * 512;
  if (ftruncate(out, static_cast<off_t>(end - begin)) != 0) {
    throw std::runtime_error("cannot size " + volume);
  }
  int64_t size = ReadData(image, begin, end, [&](uint64_t pos, const uint8_t* bytes, size_t n) {
    if (pwrite(out, bytes, n, static_cast<off_t>(pos - begin)) != static_cast<ssize_t>(n)) {
      throw std::runtime_error("cannot write " + volume);
    }
  });
  close(out);
  if (size < 0) throw std::runtime_error("cannot extract from " + image);
}

std::vector<uint8_t> MbrEntry(uint8_t type, Chs start, Chs end, uint32_t first, uint32_t count,
                              uint8_t status) {
  std::vector<uint8_t> entry(16);
  entry[0] = status;
  entry[4] = type;
  for (const auto& [at, chs] : {std::make_pair(1, start), std::make_pair(5, end)}) {
    entry[at] = static_cast<uint8_t>(chs.head);
    entry[at + 1] = static_cast<uint8_t>(((chs.cylinder >> 2) & 0xC0) | (chs.sector & 0x3F));
    entry[at + 2] = static_cast<uint8_t>(chs.cylinder);
  }
  PutLe32(&entry[8], first);
  PutLe32(&entry[12], count);
  return entry;
}

void PutMbr(std::vector<uint8_t>* sector, const std::vector<std::vector<uint8_t>>& entries) {
  for (size_t i = 0; i < entries.size(); ++i) {
    std::copy(entries[i].begin(), entries[i].end(), sector->begin() + 446 + 16 * i);
  }
  (*sector)[510] = 0x55;
  (*sector)[511] = 0xAA;
}

std::vector<uint8_t> Mbr(const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> mbr(512, 0);
  PutMbr(&mbr, entries);
  return mbr;
}

}  // namespace testsupport
