#include "tool/undo/undo_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace tool {
namespace {

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
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

// The new name is durable in its folder, so that a file whose records are on
// the disk can be found after a power cut.
bool FolderDurable(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool synced = fsync(fd) == 0;
  close(fd);
  return synced;
}

}  // namespace

bool CreateUndoFile(const std::string& path, const UndoHeader& header, UndoFile* file,
                    std::string* error) {
  *file = UndoFile();
  file->path = path;
  file->fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file->fd < 0) {
    *error = Failure(*file, "cannot create the undo file");
    return false;
  }
  if (!WriteAll(file->fd, EncodeUndoHeader(header)) || !Durable(file->fd) || !FolderDurable(path)) {
    *error = Failure(*file, "cannot write the undo file");
    close(file->fd);
    file->fd = -1;
    return false;
  }
  return true;
}

bool AppendUndoRecord(UndoFile* file, uint32_t first, uint32_t count, const uint8_t* data,
                      std::string* error) {
  if (!WriteAll(file->fd, EncodeUndoRecord(first, count, data)) || !Durable(file->fd)) {
    *error = Failure(*file, "cannot add to the undo file");
    return false;
  }
  ++file->records;
  file->sectors += count;
  return true;
}

bool CloseUndoFile(UndoFile* file, std::string* error) {
  if (file->fd < 0) return true;
  bool written =
      WriteAll(file->fd, EncodeClosingRecord(file->records, file->sectors)) && Durable(file->fd);
  if (!written) *error = Failure(*file, "cannot close the undo file");
  close(file->fd);
  file->fd = -1;
  return written;
}

}  // namespace tool
