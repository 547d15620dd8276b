#include "support/image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string ImageFingerprint(const std::string& image) {
  int fd = open(image.c_str(), O_RDONLY);
  if (fd < 0) return "missing";
  struct stat st;
  fstat(fd, &st);
  // FNV-1a over (offset, byte) of the data extents, then the size.
  uint64_t hash = 1469598103934665603ull;
  auto mix = [&hash](uint64_t value) {
    for (int i = 0; i < 8; ++i) {
      hash ^= (value >> (8 * i)) & 0xFF;
      hash *= 1099511628211ull;
    }
  };
  std::vector<uint8_t> chunk(1 << 20);
  off_t at = 0;
  while (at < st.st_size) {
    off_t data = lseek(fd, at, SEEK_DATA);
    if (data < 0) break;
    off_t hole = lseek(fd, data, SEEK_HOLE);
    for (off_t pos = data; pos < hole;) {
      ssize_t n = pread(fd, chunk.data(),
                        static_cast<size_t>(std::min<off_t>(hole - pos, chunk.size())), pos);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        // Zero bytes are left out so that a hole and written zeros agree.
        if (chunk[i] != 0) {
          mix(static_cast<uint64_t>(pos + i));
          mix(chunk[i]);
        }
      }
      pos += n;
    }
    at = hole;
  }
  close(fd);
  mix(static_cast<uint64_t>(st.st_size));
  char text[40];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
  return bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
         static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void ExtractVolume(const std::string& image, uint64_t lba, uint64_t count,
                   const std::string& volume) {
  int in = open(image.c_str(), O_RDONLY);
  int out = open(volume.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) throw std::runtime_error("cannot extract from " + image);
  off_t begin = static_cast<off_t>(lba * 512);
  off_t end = static_cast<off_t>((lba + count) * 512);
  if (ftruncate(out, end - begin) != 0) throw std::runtime_error("cannot size " + volume);
  std::vector<uint8_t> chunk(1 << 20);
  off_t at = begin;
  while (at < end) {
    off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 || data >= end) break;
    off_t hole = std::min(lseek(in, data, SEEK_HOLE), end);
    for (off_t pos = data; pos < hole;) {
      ssize_t n = pread(in, chunk.data(),
                        static_cast<size_t>(std::min<off_t>(hole - pos, chunk.size())), pos);
      if (n <= 0) break;
      if (pwrite(out, chunk.data(), static_cast<size_t>(n), pos - begin) != n) {
        throw std::runtime_error("cannot write " + volume);
      }
      pos += n;
    }
    at = hole;
  }
  close(in);
  close(out);
}

}  // namespace testsupport
