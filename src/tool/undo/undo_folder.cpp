#include "tool/undo/undo_folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tool/command/message.h"
#include "tool/modes/json_text.h"
#include "tool/undo/undo_file.h"
#include "tool/undo/write_guard.h"

namespace tool {
namespace {

constexpr int64_t kSecondsADay = 24 * 60 * 60;

const char* StateText(FolderUndoFile::State state) {
  switch (state) {
    case FolderUndoFile::State::kWhole:
      return "whole";
    case FolderUndoFile::State::kCutShort:
      return "cut short";
    case FolderUndoFile::State::kDamaged:
      return "damaged";
    case FolderUndoFile::State::kNoUndoFile:
      break;
  }
  return "no undo file";
}

FolderUndoFile Look(const std::string& path, uint64_t bytes) {
  FolderUndoFile file;
  file.path = path;
  file.bytes = bytes;
  std::vector<uint8_t> contents;
  std::string why;
  if (!ReadUndoFile(path, 0, &contents, &why)) {
    // A file longer than its header allows still says what card it kept.
    file.undo = ParseUndoHeader(contents.data(), contents.size(), &file.header, &file.why);
    file.state = file.undo ? FolderUndoFile::State::kDamaged : FolderUndoFile::State::kNoUndoFile;
    file.why = why.substr(path.size() + 2);
    return file;
  }
  file.undo = true;
  UndoContents parsed;
  if (!ParseUndoFile(contents, &parsed, &file.why)) {
    file.state = FolderUndoFile::State::kDamaged;
    file.undo = ParseUndoHeader(contents.data(), contents.size(), &file.header, &why);
    return file;
  }
  file.header = parsed.header;
  file.state = parsed.closed ? FolderUndoFile::State::kWhole : FolderUndoFile::State::kCutShort;
  return file;
}

int64_t Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

std::string FolderOrRefuse(const ToolRun& run) {
  std::string error;
  std::string folder = DefaultUndoFolder(run.settings, &error);
  if (folder.empty()) Say(error);
  return folder;
}

}  // namespace

std::vector<FolderUndoFile> UndoFilesIn(const std::string& folder) {
  std::vector<FolderUndoFile> files;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string path = folder + "/" + entry->d_name;
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) continue;
    files.push_back(Look(path, static_cast<uint64_t>(status.st_size)));
  }
  closedir(dir);
  std::sort(files.begin(), files.end(), [](const FolderUndoFile& a, const FolderUndoFile& b) {
    if (a.undo != b.undo) return a.undo;
    if (a.undo && a.header.time != b.header.time) return a.header.time < b.header.time;
    return a.path < b.path;
  });
  return files;
}

std::vector<FolderUndoFile> BegunBefore(const std::vector<FolderUndoFile>& files, uint32_t days,
                                        int64_t now) {
  std::vector<FolderUndoFile> old;
  for (const FolderUndoFile& file : files) {
    if (file.undo && (days == 0 || file.header.time < now - days * kSecondsADay)) {
      old.push_back(file);
    }
  }
  return old;
}

std::string UndoFilesText(const std::string& folder, const std::vector<FolderUndoFile>& files) {
  std::string text;
  uint64_t bytes = 0;
  for (const FolderUndoFile& file : files) {
    bytes += file.bytes;
    text += Escaped(file.path) + "\n";
    if (!file.undo) {
      text += "     no undo file (" + file.why + "), " + std::to_string(file.bytes) + " bytes\n";
      continue;
    }
    const UndoHeader& h = file.header;
    text += "     " + Escaped(h.model.empty() ? std::string("no model") : h.model) + ", S/N " +
            Escaped(h.serialNumber.empty() ? std::string("unknown") : h.serialNumber) + ", " +
            std::to_string(h.sectors) + " sectors, begun " + UndoTimeText(h.time) + "\n";
    text += "     " + std::to_string(file.bytes) + " bytes, " + StateText(file.state) +
            (file.state == FolderUndoFile::State::kDamaged ? " (" + file.why + ")" : "") + "\n";
  }
  return text + std::to_string(files.size()) + " file" + (files.size() == 1 ? "" : "s") + ", " +
         std::to_string(bytes) + " bytes, in " + Escaped(folder) + "\n";
}

std::string UndoFilesJson(const std::string& folder, const std::vector<FolderUndoFile>& files) {
  std::vector<Json> items;
  uint64_t bytes = 0;
  for (const FolderUndoFile& file : files) {
    bytes += file.bytes;
    const UndoHeader& h = file.header;
    auto text = [&](const std::string& value) {
      return file.undo && !value.empty() ? JsonString(value) : JsonNull();
    };
    items.push_back(JsonObject(
        {{"path", JsonString(file.path)},
         {"bytes", JsonNumber(static_cast<int64_t>(file.bytes))},
         {"state", JsonString(StateText(file.state))},
         {"why", file.why.empty() ? JsonNull() : JsonString(file.why)},
         {"model", text(h.model)},
         {"serial", text(h.serialNumber)},
         {"sectors", file.undo ? JsonNumber(static_cast<int64_t>(h.sectors)) : JsonNull()},
         {"begun", file.undo ? JsonNumber(h.time) : JsonNull()},
         {"begun_utc", file.undo ? JsonString(UndoTimeText(h.time)) : JsonNull()},
         {"version", file.undo ? JsonNumber(h.version) : JsonNull()}}));
  }
  return JsonObject({{"folder", JsonString(folder)},
                     {"files", JsonArray(items)},
                     {"bytes", JsonNumber(static_cast<int64_t>(bytes))}})
             .text +
         "\n";
}

int RunUndoFiles(ToolRun* run) {
  const std::string folder = FolderOrRefuse(*run);
  if (folder.empty()) return 1;
  const std::vector<FolderUndoFile> files = UndoFilesIn(folder);
  std::fputs((run->mode.json ? UndoFilesJson(folder, files) : UndoFilesText(folder, files)).c_str(),
             stdout);
  return OutputWritten(stdout, "standard output") ? 0 : 1;
}

int RunForgetUndo(ToolRun* run) {
  const std::string folder = FolderOrRefuse(*run);
  if (folder.empty()) return 1;
  uint32_t days = 0;
  ParseDays(run->settings.forgetUndo.value, &days);
  const std::vector<FolderUndoFile> old = BegunBefore(UndoFilesIn(folder), days, Now());
  if (run->mode.answers == Answers::kDryRun) {
    std::fputs((run->mode.json ? UndoFilesJson(folder, old) : UndoFilesText(folder, old)).c_str(),
               stdout);
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }
  if (old.empty()) {
    std::printf("No undo file in %s was begun more than %u days ago.\n", Escaped(folder).c_str(),
                days);
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }
  std::fputs(UndoFilesText(folder, old).c_str(), stdout);
  std::printf("Remove these undo files (Y/N)? ");
  bool yes = run->mode.answers == Answers::kYes;
  if (yes) {
    std::printf("Y (--yes)\n");
  } else {
    std::fflush(stdout);
    std::string answer;
    yes = std::getline(std::cin, answer) && (answer == "Y" || answer == "y");
  }
  if (!yes) {
    std::printf("Nothing removed.\n");
    return OutputWritten(stdout, "standard output") ? 0 : 1;
  }
  int code = 0;
  size_t removed = 0;
  for (const FolderUndoFile& file : old) {
    if (unlink(file.path.c_str()) == 0) {
      ++removed;
    } else {
      Say(file.path + ": cannot be removed: " + std::strerror(errno));
      code = 1;
    }
  }
  std::printf("Removed %zu undo file%s.\n", removed, removed == 1 ? "" : "s");
  return OutputWritten(stdout, "standard output") ? code : 1;
}

}  // namespace tool
