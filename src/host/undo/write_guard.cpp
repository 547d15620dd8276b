#include "host/undo/write_guard.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cards/card_registry.h"
#include "common/ata_commands.h"
#include "host/card/card_medium.h"
#include "host/card/real_card.h"
#include "host/undo/undo_file.h"
#include "sim/medium.h"

namespace host {
namespace {

// Names tried after a default name that is taken (two runs in one second).
constexpr int kMoreNames = 100;

struct Guard {
  // Off until the boot reads the settings: block devices then keep an undo
  // file and are read back unless told not to.
  bool undo = false;
  bool verify = false;
  std::string undoFile;    // --undo FILE: for any card, images too
  std::string undoFolder;  // where the default files go
  // The card being written, its undo file and what was read back.
  std::string card;
  UndoFile file;
  bool fileBegun = false;
  std::string verifiedCard;
  uint64_t verified = 0;
  std::vector<uint8_t> buffer;
};

Guard guard;

bool IsBlockDevice(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISBLK(status.st_mode);
}

// Makes folder and its parents (mode 0700 for those it makes).
bool MakeFolders(const std::string& folder, std::string* error) {
  for (size_t at = 1; at <= folder.size(); ++at) {
    if (at < folder.size() && folder[at] != '/') continue;
    std::string part = folder.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = part + ": cannot make the undo files' folder: " + std::strerror(errno);
      return false;
    }
  }
  struct stat status;
  if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    *error = folder + ": the undo files' folder is not a folder";
    return false;
  }
  return true;
}

bool AnyBlockDeviceCard() {
  cards::DriverRegistry registry;
  std::string problem;
  if (!cards::ReadDriverRegistry(&registry, &problem)) return false;
  for (const sim::CardSettings& card : registry.cards) {
    if (CardMediumAt(card.image).IsBlockDevice()) return true;
  }
  return false;
}

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

// Begins the card's undo file at its first write.
bool BeginUndoFile(const sim::CardSettings& card, int fd) {
  UndoHeader header;
  header.sectors = sim::MediumSize(fd) / kAtaSectorBytes;
  header.cylinders = card.identity.cylinders;
  header.heads = card.identity.heads;
  header.sectorsPerTrack = card.identity.sectorsPerTrack;
  header.model = card.identity.model;
  header.serialNumber = card.identity.serialNumber;
  header.firmwareRevision = card.identity.firmwareRevision;
  header.identityKnown = !card.identity.serialNumber.empty();
  header.time = Now();
  std::string error;
  if (!guard.undoFile.empty()) {
    if (CreateUndoFile(guard.undoFile, header, &guard.file, &error)) return true;
  } else {
    std::string name =
        guard.undoFolder + "/" + DefaultUndoName(header.model, header.serialNumber, header.time);
    std::string tried = name;
    for (int more = 0; more <= kMoreNames; ++more) {
      if (CreateUndoFile(tried, header, &guard.file, &error)) return true;
      if (errno != EEXIST) break;
      tried = name.substr(0, name.size() - 5) + "-" + std::to_string(more + 2) + ".undo";
    }
  }
  AddTeardownNote(error + "; nothing was written to " + card.image);
  return false;
}

// The sectors from first on whose read-back differs, as "N" or "N-M" (the
// first and last that differ), and how many.
std::string Differing(uint32_t first, uint32_t count, const uint8_t* sent, const uint8_t* back,
                      uint32_t* differing) {
  uint32_t low = 0, high = 0;
  *differing = 0;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = static_cast<size_t>(i) * kAtaSectorBytes;
    if (std::memcmp(sent + at, back + at, kAtaSectorBytes) == 0) continue;
    if (*differing == 0) low = first + i;
    high = first + i;
    ++*differing;
  }
  return low == high ? std::to_string(low) : std::to_string(low) + "-" + std::to_string(high);
}

}  // namespace

std::string DefaultUndoName(const std::string& model, const std::string& serialNumber,
                            int64_t time) {
  auto plain = [](const std::string& text, const char* unknown) {
    std::string out;
    for (char c : text) {
      bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
      out += kept ? c : '_';
    }
    return out.empty() ? std::string(unknown) : out;
  };
  time_t seconds = static_cast<time_t>(time);
  struct tm utc = {};
  gmtime_r(&seconds, &utc);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  return plain(model, "card") + "_" + plain(serialNumber, "no-serial") + "_" + stamp + ".undo";
}

bool PrepareWriteGuard(const Settings& settings, std::string* error) {
  guard = Guard();
  guard.undo = !settings.noUndo.given();
  guard.verify = !settings.noVerify.given();
  guard.undoFile = settings.undo.value;
  if (settings.noUndo.given() && settings.fixedDisk.given()) {
    *error = std::string(settings.noUndo.option) + " with " + settings.fixedDisk.Shown() +
             ": a fixed disk is written only with its undo file kept";
    return false;
  }
  if (settings.noUndo.given() && settings.undo.given()) {
    *error = settings.undo.Shown() + " and " + settings.noUndo.option + " disagree: give one";
    return false;
  }
  if (!guard.undoFile.empty()) {
    struct stat status;
    if (lstat(guard.undoFile.c_str(), &status) == 0) {
      *error = settings.undo.Shown() + ": there is a file of that name already; an undo file " +
               "is never written over";
      return false;
    }
    return true;
  }
  if (!guard.undo || !AnyBlockDeviceCard()) return true;
  // A base of "/" (root's home in a bare system) gives "/.local/...", not
  // "//.local/...".
  auto under = [](const std::string& base, const char* rest) {
    return (base.back() == '/' ? base.substr(0, base.size() - 1) : base) + rest;
  };
  if (settings.stateHome.given() && settings.stateHome.value[0] == '/') {
    guard.undoFolder = under(settings.stateHome.value, "/dunmore");
  } else if (settings.home.given()) {
    guard.undoFolder = under(settings.home.value, "/.local/state/dunmore");
  } else {
    *error = std::string("no folder for the undo file: neither ") + settings.stateHome.variable +
             " nor " + settings.home.variable + " is set; give " + settings.undo.option + " FILE";
    return false;
  }
  return MakeFolders(guard.undoFolder, error);
}

bool KeepBeforeWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count) {
  const bool keep = guard.undo && (!guard.undoFile.empty() || IsBlockDevice(fd));
  if (!keep) return true;
  if (!guard.card.empty() && guard.card != card.image) {
    AddTeardownNote(card.image + ": the undo file holds " + guard.card +
                    " already; nothing was written to " + card.image);
    return false;
  }
  guard.card = card.image;
  if (!guard.fileBegun) {
    if (!BeginUndoFile(card, fd)) return false;
    guard.fileBegun = true;
  }
  const uint32_t bytes = count * kAtaSectorBytes;
  guard.buffer.resize(bytes);
  std::string error;
  if (!sim::ReadMedium(fd, static_cast<uint64_t>(first) * kAtaSectorBytes, guard.buffer.data(),
                       bytes)) {
    AddTeardownNote(card.image + ": sectors " + std::to_string(first) + "-" +
                    std::to_string(first + count - 1) +
                    " could not be read for the undo file; they were not written");
    return false;
  }
  if (!AppendUndoRecord(&guard.file, first, count, guard.buffer.data(), &error)) {
    AddTeardownNote(error + "; nothing more was written to " + card.image);
    return false;
  }
  return true;
}

bool VerifyAfterWrite(const sim::CardSettings& card, int fd, uint32_t first, uint32_t count,
                      const uint8_t* data) {
  if (!guard.verify || !IsBlockDevice(fd)) return true;
  const uint32_t bytes = count * kAtaSectorBytes;
  guard.buffer.resize(bytes);
  if (!sim::ReadMedium(fd, static_cast<uint64_t>(first) * kAtaSectorBytes, guard.buffer.data(),
                       bytes)) {
    AddTeardownNote(card.image + ": sectors " + std::to_string(first) + "-" +
                    std::to_string(first + count - 1) + " could not be read back after the write");
    return false;
  }
  uint32_t differing = 0;
  std::string where = Differing(first, count, data, guard.buffer.data(), &differing);
  if (differing != 0) {
    AddTeardownNote(card.image + ": " + std::to_string(differing) + " of the " +
                    std::to_string(count) + " sectors written at " + std::to_string(first) +
                    " read back other than written (" + where +
                    "): the card does not keep what it is sent; the write was stopped there");
    return false;
  }
  guard.verifiedCard = card.image;
  guard.verified += count;
  return true;
}

void GuardCardWrites(sim::CardSettings* card) {
  card->beforeWrite = KeepBeforeWrite;
  card->afterWrite = VerifyAfterWrite;
}

void FinishWriteGuard() {
  if (guard.fileBegun) {
    std::string error;
    if (!CloseUndoFile(&guard.file, &error)) AddTeardownNote(error);
    AddTeardownNote(guard.card + ": what the write overwrote (" +
                    std::to_string(guard.file.sectors) + " sectors in " +
                    std::to_string(guard.file.records) + " records) is kept in " + guard.file.path +
                    "; 'dunmore --restore " + guard.file.path + " " + guard.card +
                    "' puts it back");
    guard.fileBegun = false;
  }
  if (guard.verified != 0) {
    AddTeardownNote(guard.verifiedCard + ": " + std::to_string(guard.verified) +
                    " sectors written were read back from the card and matched what was sent");
    guard.verified = 0;
  }
}

}  // namespace host
