#include "tool/undo/write_guard.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/ata_commands.h"
#include "host/card/card_holders.h"
#include "host/card/card_medium.h"
#include "sim/medium.h"
#include "tool/undo/restore_advice.h"
#include "tool/undo/undo_file.h"

namespace tool {
namespace {

// Names tried after a default name that is taken (two runs in one second).
constexpr int kMoreNames = 100;

// The pre-read moves at most this much at a time, so that a slow reader's
// progress can be shown.
constexpr uint32_t kReadAheadSectors = 2048;
// Memory aligned for a card's block device opened O_DIRECT: read straight
// into, with no copy.
constexpr size_t kAlignment = 4096;

bool IsBlockDevice(const sim::CardSettings& card) {
  return host::CardMediumAt(card.image).IsBlockDevice();
}

struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using AlignedBytes = std::unique_ptr<uint8_t, FreeDeleter>;

AlignedBytes Aligned(size_t bytes) {
  void* memory = nullptr;
  if (posix_memalign(&memory, kAlignment, std::max<size_t>(bytes, kAlignment)) != 0) {
    return nullptr;
  }
  return AlignedBytes(static_cast<uint8_t*>(memory));
}

// Where one command's sectors are read, before it (a command outside the
// plan) and back after it: aligned, so that the device reads straight in.
uint8_t* CommandSectors() {
  static const AlignedBytes sectors = Aligned(kAtaMaxSectorCount * kAtaSectorBytes);
  return sectors.get();
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

// The nearest folder at or above path that is there: where a folder not
// made yet would be made.
std::string NearestFolder(std::string path) {
  struct stat status;
  while (stat(path.c_str(), &status) != 0) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    path = slash == 0 ? "/" : path.substr(0, slash);
  }
  return path;
}

// Whether a new file can be made in folder (or in the folder that would be
// made there): a folder there, that this process may write, on a file
// system mounted for writing. *error says why not.
bool CanMakeFileIn(const std::string& folder, const std::string& shown, std::string* error) {
  std::string there = NearestFolder(folder);
  struct stat status;
  if (stat(there.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    *error = shown + ": " + there + " is not a folder";
    return false;
  }
  if (access(there.c_str(), W_OK | X_OK) != 0) {
    *error = shown + ": no undo file can be made in " + there + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
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

std::string DefaultUndoFolder(const Settings& settings, std::string* error) {
  // A base of "/" (root's home in a bare system) gives "/.local/...", not
  // "//.local/...".
  auto under = [](const std::string& base, const char* rest) {
    return (base.back() == '/' ? base.substr(0, base.size() - 1) : base) + rest;
  };
  if (settings.stateHome.given() && settings.stateHome.value[0] == '/') {
    return under(settings.stateHome.value, "/dunmore");
  }
  if (settings.home.given()) return under(settings.home.value, "/.local/state/dunmore");
  *error = std::string("no folder for the undo file: neither ") + settings.stateHome.variable +
           " nor " + settings.home.variable + " is set; give " + settings.undo.option + " FILE";
  return std::string();
}

bool WriteGuard::Keeps(const sim::CardSettings& card) const {
  return undo && (!undoFile.empty() || IsBlockDevice(card));
}

bool WriteGuard::Verifies(const sim::CardSettings& card) const {
  return verify && IsBlockDevice(card);
}

// Reads what the planned sectors hold and makes the whole undo file of
// them, under the first name free.
bool WriteGuard::BeginUndoFile(const sim::CardSettings& card, const sim::Medium& medium,
                               const PlannedSectors& plan, std::string* error) {
  const std::string shown = host::CardMediumAt(card.image).shownName;
  UndoHeader header;
  header.sectors = medium.bytes / kAtaSectorBytes;
  header.cylinders = card.identity.cylinders;
  header.heads = card.identity.heads;
  header.sectorsPerTrack = card.identity.sectorsPerTrack;
  SetUndoIdentity(card.identity, host::CardMediumAt(card.image), &header);
  header.time = Now();
  begun = header;
  // Each run where the device reads it straight in: at an aligned place.
  std::vector<KeptRun> runs;
  size_t bytes = 0;
  for (const SectorRunPlan& run : plan.runs) {
    bytes = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    runs.push_back({run.first, run.count, reinterpret_cast<const uint8_t*>(bytes)});
    bytes += static_cast<size_t>(run.count) * kAtaSectorBytes;
  }
  AlignedBytes old = Aligned(bytes);
  if (old == nullptr) {
    *error =
        shown + ": no memory for the undo file's " + std::to_string(plan.Sectors()) + " sectors";
    return false;
  }
  for (KeptRun& run : runs) run.data = old.get() + reinterpret_cast<size_t>(run.data);
  // The file is made first, under the first name free, so that a name or a
  // folder it cannot have is found before anything is read.
  bool created = false;
  if (!undoFile.empty()) {
    created = CreateUndoFile(undoFile, &file, error);
  } else {
    const std::string name =
        undoFolder + "/" + DefaultUndoName(header.model, header.serialNumber, header.time);
    std::string tried = name;
    for (int more = 0; more <= kMoreNames && !created; ++more) {
      created = CreateUndoFile(tried, &file, error);
      if (!created && errno != EEXIST) break;
      tried = name.substr(0, name.size() - 5) + "-" + std::to_string(more + 2) + ".undo";
    }
  }
  if (!created) return false;
  // The sectors are read in a thread of their own, one after the other
  // into old, while what has come in is laid out and written here (its runs
  // of zeros found, its CRC-32s taken).
  struct {
    std::mutex mutex;
    std::condition_variable more;
    size_t read = 0;       // old holds what was read up to here
    uint64_t sectors = 0;  // how many
    bool failed = false;
    bool stop = false;  // what was read can no longer be written
  } ahead;
  std::string failure;       // the reader's
  std::string writeFailure;  // this thread's
  std::thread reader([&] {
    for (const KeptRun& run : runs) {
      for (uint32_t at = 0; at < run.count; at += kReadAheadSectors) {
        const uint32_t count = std::min(kReadAheadSectors, run.count - at);
        const uint64_t offset = (static_cast<uint64_t>(run.first) + at) * kAtaSectorBytes;
        const size_t into = static_cast<size_t>(run.data - old.get()) + at * kAtaSectorBytes;
        const bool ok = sim::ReadMedium(medium, offset, old.get() + into, count * kAtaSectorBytes);
        std::lock_guard<std::mutex> hold(ahead.mutex);
        if (!ok) {
          failure = shown + ": sectors " + std::to_string(run.first + at) + "-" +
                    std::to_string(run.first + at + count - 1) +
                    " could not be read for the undo file: " + std::strerror(errno);
          ahead.failed = true;
          ahead.more.notify_one();
          return;
        }
        if (ahead.stop) return;
        ahead.read = into + static_cast<size_t>(count) * kAtaSectorBytes;
        ahead.sectors += count;
        ahead.more.notify_one();
      }
    }
  });
  uint64_t told = 0;  // sectors the progress line was told of
  const UndoFileLayout layout = LayOutUndoFile(
      header, runs,
      [&](const uint8_t* end) -> const uint8_t* {
        size_t read = 0;
        uint64_t sectors = 0;
        {
          std::unique_lock<std::mutex> hold(ahead.mutex);
          ahead.more.wait(hold, [&] { return ahead.failed || old.get() + ahead.read >= end; });
          if (ahead.failed) return nullptr;
          read = ahead.read;
          sectors = ahead.sectors;
        }
        if (progress != nullptr) progress->Advance(sectors - told);
        told = sectors;
        return old.get() + read;
      },
      [&](const LaidOutRecord& record) { return AddLaidOutRecord(&file, record, &writeFailure); });
  {
    std::lock_guard<std::mutex> hold(ahead.mutex);
    ahead.stop = true;
  }
  reader.join();
  if (!layout.complete) {
    *error = writeFailure.empty() ? failure : writeFailure;
    DiscardUndoFile(&file);
    return false;
  }
  return CompleteUndoFile(&file, layout, error);
}

bool WriteGuard::Prepare(const Settings& settings, const std::vector<sim::CardSettings>& cards,
                         bool dryRun, std::string* error) {
  given = settings;
  undo = !settings.noUndo.given();
  verify = !settings.noVerify.given();
  undoFile = settings.undo.value;
  // The undo file never goes onto a card of the machine: the write would
  // overwrite it with everything it keeps.
  auto onACard = [&](const std::string& folder, const std::string& shown) {
    struct stat status;
    if (stat(NearestFolder(folder).c_str(), &status) != 0) return false;
    for (const sim::CardSettings& card : cards) {
      const host::CardMedium& medium = host::CardMediumAt(card.image);
      if (!medium.IsBlockDevice()) continue;
      std::vector<dev_t> devices = host::DevicesOfCard(medium.status.st_rdev);
      if (std::find(devices.begin(), devices.end(), status.st_dev) != devices.end()) {
        *error = shown + ": the undo file would go onto the card " + medium.shownName +
                 " it keeps; name a folder elsewhere with " + settings.undo.option + " FILE";
        return true;
      }
    }
    return false;
  };
  if (!undoFile.empty()) {
    struct stat status;
    if (lstat(undoFile.c_str(), &status) == 0) {
      *error = settings.undo.Shown() + ": there is a file of that name already; an undo file " +
               "is never written over";
      return false;
    }
    std::string folder = FolderOf(undoFile);
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
      *error = settings.undo.Shown() + ": there is no folder " + folder + " to make it in";
      return false;
    }
    return !onACard(folder, settings.undo.Shown()) &&
           CanMakeFileIn(folder, settings.undo.Shown(), error);
  }
  bool anyBlockDevice = false;
  for (const sim::CardSettings& card : cards) {
    anyBlockDevice = anyBlockDevice || host::CardMediumAt(card.image).IsBlockDevice();
  }
  if (!undo || !anyBlockDevice) return true;
  undoFolder = DefaultUndoFolder(settings, error);
  if (undoFolder.empty() || onACard(undoFolder, undoFolder)) return false;
  if (!CanMakeFileIn(undoFolder, undoFolder, error)) return false;
  return dryRun || MakeFolders(undoFolder, error);
}

bool WriteGuard::KeepAhead(const sim::CardSettings& card, const sim::Medium& medium,
                           const PlannedSectors& plan, std::string* error) {
  if (!Keeps(card) || fileBegun || refused) return !refused;
  const std::string shown = host::CardMediumAt(card.image).shownName;
  if (!this->card.empty() && this->card != shown) return true;  // refused at its first command
  if (!BeginUndoFile(card, medium, plan, error)) {
    *error += "; nothing was written to " + shown;
    refused = true;
    return false;
  }
  this->card = shown;
  fileBegun = true;
  kept = plan;
  commands = 0;
  return true;
}

bool WriteGuard::KeepBeforeWrite(const sim::CardSettings& card, const sim::Medium& medium,
                                 uint32_t first, uint32_t count) {
  if (!Keeps(card)) return true;
  if (refused) return false;  // said when the undo file could not be made
  const std::string shown = host::CardMediumAt(card.image).shownName;
  if (!this->card.empty() && this->card != shown) {
    notes->Add(shown + ": the undo file holds " + this->card + " already; nothing was written to " +
               shown);
    return false;
  }
  std::string error;
  if (!fileBegun && !KeepAhead(card, medium, PlannedSectors(), &error)) {
    notes->Add(error);
    return false;
  }
  ++commands;
  if (kept.Covers(first, count)) return true;
  // A command the plan did not foresee: what it overwrites is kept now.
  const uint32_t bytes = count * kAtaSectorBytes;
  uint8_t* old = CommandSectors();
  if (old == nullptr ||
      !sim::ReadMedium(medium, static_cast<uint64_t>(first) * kAtaSectorBytes, old, bytes)) {
    notes->Add(shown + ": sectors " + std::to_string(first) + "-" +
               std::to_string(first + count - 1) +
               " could not be read for the undo file; they were not written");
    return false;
  }
  if (!AppendUndoRecord(&file, first, count, old, &error)) {
    notes->Add(error + "; nothing more was written to " + shown);
    return false;
  }
  return true;
}

bool WriteGuard::VerifyAfterWrite(const sim::CardSettings& card, const sim::Medium& medium,
                                  uint32_t first, uint32_t count, const uint8_t* data) {
  if (!Verifies(card)) return true;
  const std::string shown = host::CardMediumAt(card.image).shownName;
  const uint32_t bytes = count * kAtaSectorBytes;
  uint8_t* back = CommandSectors();
  if (back == nullptr ||
      !sim::ReadMedium(medium, static_cast<uint64_t>(first) * kAtaSectorBytes, back, bytes)) {
    notes->Add(shown + ": sectors " + std::to_string(first) + "-" +
               std::to_string(first + count - 1) + " could not be read back after the write");
    return false;
  }
  uint32_t differing = 0;
  std::string where = Differing(first, count, data, back, &differing);
  if (differing != 0) {
    notes->Add(shown + ": " + std::to_string(differing) + " of the " + std::to_string(count) +
               " sectors written at " + std::to_string(first) + " read back other than written (" +
               where + "): the card does not keep what it is sent; the write was stopped there");
    return false;
  }
  verifiedCard = shown;
  verified += count;
  return true;
}

void WriteGuard::Finish() {
  if (fileBegun && commands == 0) {
    // Nothing reached the card: there is nothing to put back.
    DiscardUndoFile(&file);
  } else if (fileBegun) {
    CloseUndoFile(&file);
    notes->Add(card + ": what the write changes (" + std::to_string(file.sectors) + " sectors in " +
               std::to_string(file.records) + " records) was kept before it in " + file.path +
               "; " + RestoreAdvice(given, file.path, card, begun));
  }
  fileBegun = false;
  refused = false;
  kept = PlannedSectors();
  card.clear();
  if (verified != 0) {
    notes->Add(verifiedCard + ": " + std::to_string(verified) +
               " sectors written were read back from the card and matched what was sent");
    verified = 0;
  }
}

}  // namespace tool
