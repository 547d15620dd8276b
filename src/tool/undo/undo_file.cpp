#include "tool/undo/undo_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "common/ata_commands.h"

namespace tool {
namespace {

// How much of an undo file being laid out is gathered before it is written.
constexpr uint64_t kGatheredBytes = 1 << 20;

// Writes bytes at offset (moving the file's offset there first).
bool WriteAll(int fd, const std::vector<uint8_t>& bytes, uint64_t offset) {
  if (lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes the spans in order from the file's offset, as few calls as the
// system's limit on them allows.
bool WriteSpans(int fd, const std::vector<std::pair<const uint8_t*, size_t>>& spans) {
  std::vector<iovec> pieces;
  for (const auto& span : spans) {
    if (span.second != 0) pieces.push_back({const_cast<uint8_t*>(span.first), span.second});
  }
  size_t next = 0;
  while (next < pieces.size()) {
    const int count = static_cast<int>(std::min<size_t>(pieces.size() - next, IOV_MAX));
    ssize_t n = writev(fd, pieces.data() + next, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    // What a short write left of the pieces.
    size_t done = static_cast<size_t>(n);
    while (next < pieces.size() && done >= pieces[next].iov_len) done -= pieces[next++].iov_len;
    if (done != 0) {
      pieces[next].iov_base = static_cast<uint8_t*>(pieces[next].iov_base) + done;
      pieces[next].iov_len -= done;
    }
  }
  return true;
}

bool Durable(int fd) {
  while (fdatasync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

std::string Failure(const UndoFile& file, const char* what) {
  return file.path + ": " + what + ": " + std::strerror(errno);
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The new name is durable in its folder, so that a file whose records are on
// the disk can be found after a power cut.
bool FolderDurable(const std::string& path) {
  int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  int kept = errno;
  close(fd);
  errno = kept;
  return synced;
}

// What kind of file the mode is, for a refusal.
const char* Kind(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

bool ReadExactly(int fd, uint8_t* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    ssize_t n = read(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

namespace {

// ReadUndoFile, or its header alone.
bool ReadUndo(const std::string& path, uint64_t cardSectors, bool headerOnly,
              std::vector<uint8_t>* bytes, std::string* error) {
  auto refuse = [&](const std::string& why) {
    *error = path + ": " + why;
    return false;
  };
  int named = open(path.c_str(), O_PATH | O_CLOEXEC);
  struct stat status;
  if (named < 0 || fstat(named, &status) != 0) {
    if (named >= 0) close(named);
    return refuse(std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) {
    close(named);
    return refuse(std::string("is ") + Kind(status.st_mode) + ", not an undo file");
  }
  // Opened through the descriptor that found it, without waiting, and
  // looked at again: what is read is what was looked at.
  const std::string self = "/proc/self/fd/" + std::to_string(named);
  int fd = open(self.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  close(named);
  struct stat opened;
  if (fd < 0 || fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      opened.st_ino != status.st_ino || opened.st_dev != status.st_dev) {
    if (fd >= 0) close(fd);
    return refuse("cannot be read as the file it was");
  }
  const uint64_t size = static_cast<uint64_t>(opened.st_size);
  bytes->assign(std::min<uint64_t>(size, kUndoHeaderBytes), 0);
  UndoHeader header;
  std::string why;
  if (!ReadExactly(fd, bytes->data(), bytes->size()) ||
      !ParseUndoHeader(bytes->data(), bytes->size(), &header, &why)) {
    close(fd);
    return refuse(why.empty() ? std::string("cannot be read: ") + std::strerror(errno) : why);
  }
  if (header.fileBytes != 0 && size > header.fileBytes) {
    close(fd);
    return refuse("the undo file is longer (" + std::to_string(size) + " bytes) than its " +
                  "header says (" + std::to_string(header.fileBytes) + ")");
  }
  if (headerOnly) {
    close(fd);
    return true;
  }
  const uint64_t sectors = cardSectors != 0 ? cardSectors : header.sectors;
  const uint64_t perSector = kUndoRecordHeadBytes + kAtaSectorBytes + kUndoCrcBytes;
  const uint64_t room = std::numeric_limits<uint64_t>::max() / 4 / perSector;
  const uint64_t cardAllows =
      sectors > room ? std::numeric_limits<uint64_t>::max()
                     : header.Bytes() + 2 * sectors * perSector + kUndoShortRecordBytes;
  if (size > cardAllows) {
    close(fd);
    return refuse("the undo file is longer (" + std::to_string(size) + " bytes) than one of a " +
                  "card of " + std::to_string(sectors) + " sectors can be (" +
                  std::to_string(cardAllows) + ")");
  }
  // A file that grows meanwhile is read as far as its size was.
  const size_t had = bytes->size();
  bytes->resize(size);
  bool read = ReadExactly(fd, bytes->data() + had, size - had);
  close(fd);
  if (!read) return refuse(std::string("cannot be read: ") + std::strerror(errno));
  return true;
}

}  // namespace

bool ReadUndoFile(const std::string& path, uint64_t cardSectors, std::vector<uint8_t>* bytes,
                  std::string* error) {
  return ReadUndo(path, cardSectors, false, bytes, error);
}

bool ReadUndoHeader(const std::string& path, UndoHeader* header, std::string* error) {
  std::vector<uint8_t> bytes;
  std::string why;
  if (!ReadUndo(path, 0, true, &bytes, error)) return false;
  if (ParseUndoHeader(bytes.data(), bytes.size(), header, &why)) return true;
  *error = path + ": " + why;
  return false;
}

bool CreateUndoFile(const std::string& path, UndoFile* file, std::string* error) {
  *file = UndoFile();
  file->path = path;
  file->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file->fd < 0) {
    *error = Failure(*file, "cannot create the undo file");
    return false;
  }
  return true;
}

namespace {

// Writes the records gathered, and asks the disk to begin storing them: the
// fdatasync that makes the file durable then finds them on their way.
bool WritePending(UndoFile* file) {
  if (file->pendingBytes == 0) return true;
  std::vector<std::pair<const uint8_t*, size_t>> spans;
  for (const UndoFile::Piece& piece : file->pending) {
    spans.emplace_back(piece.data != nullptr ? piece.data : file->own.data() + piece.ownAt,
                       piece.length);
  }
  if (lseek(file->fd, static_cast<off_t>(file->pendingAt), SEEK_SET) < 0 ||
      !WriteSpans(file->fd, spans)) {
    return false;
  }
  // Only a request: whatever it could not begin, the fdatasync does.
  sync_file_range(file->fd, static_cast<off_t>(file->pendingAt),
                  static_cast<off_t>(file->pendingBytes), SYNC_FILE_RANGE_WRITE);
  file->pendingBytes = 0;
  file->pending.clear();
  file->own.clear();
  return true;
}

}  // namespace

bool AddLaidOutRecord(UndoFile* file, const LaidOutRecord& record, std::string* error) {
  auto own = [file](const uint8_t* bytes, size_t length) {
    file->pending.push_back({nullptr, file->own.size(), length});
    file->own.insert(file->own.end(), bytes, bytes + length);
    file->pendingBytes += length;
  };
  if (file->pending.empty()) file->pendingAt = record.at;
  own(record.head, sizeof record.head);
  if (record.data != nullptr) {
    file->pending.push_back({record.data, 0, record.dataBytes});
    file->pendingBytes += record.dataBytes;
  }
  own(record.crc, sizeof record.crc);
  if (file->pendingBytes < kGatheredBytes || WritePending(file)) return true;
  *error = Failure(*file, "cannot write the undo file");
  return false;
}

bool CompleteUndoFile(UndoFile* file, const UndoFileLayout& layout, std::string* error) {
  const std::vector<uint8_t> closing = EncodeClosingRecord(layout.records, layout.sectors);
  if (!WritePending(file) || !WriteAll(file->fd, closing, layout.ClosingAt()) ||
      !WriteAll(file->fd, EncodeUndoHeader(layout.header), 0) || !Durable(file->fd) ||
      !FolderDurable(file->path)) {
    *error = Failure(*file, "cannot write the undo file");
    DiscardUndoFile(file);
    return false;
  }
  file->header = layout.header;
  file->records = layout.records;
  file->sectors = layout.sectors;
  file->bytes = layout.header.fileBytes;
  return true;
}

bool AppendUndoRecord(UndoFile* file, uint32_t first, uint32_t count, const uint8_t* data,
                      std::string* error) {
  std::vector<uint8_t> added = EncodeUndoRecord(first, count, data);
  const std::vector<uint8_t> closing =
      EncodeClosingRecord(file->records + 1, file->sectors + count);
  added.insert(added.end(), closing.begin(), closing.end());
  // First the header says the new length and the old closing record goes:
  // the file is cut short after its last whole record. Then the record and
  // the new closing record follow. Each step is durable before the next.
  const uint64_t end = file->bytes - kUndoShortRecordBytes;
  UndoHeader header = file->header;
  header.fileBytes = end + added.size();
  bool written = WriteAll(file->fd, EncodeUndoHeader(header), 0) &&
                 ftruncate(file->fd, static_cast<off_t>(end)) == 0 && Durable(file->fd) &&
                 WriteAll(file->fd, added, end) && Durable(file->fd);
  if (!written) {
    *error = Failure(*file, "cannot add to the undo file");
    return false;
  }
  file->header = header;
  file->bytes = header.fileBytes;
  ++file->records;
  file->sectors += count;
  return true;
}

void CloseUndoFile(UndoFile* file) {
  if (file->fd >= 0) close(file->fd);
  file->fd = -1;
}

void DiscardUndoFile(UndoFile* file) {
  CloseUndoFile(file);
  int kept = errno;
  unlink(file->path.c_str());
  errno = kept;
}

}  // namespace tool
