// The default folder's undo files kept in bounds: --undo-files lists them
// (the card each keeps, when it was begun, its size, whole or cut short),
// and --forget-undo DAYS removes those begun more than DAYS days ago, once
// the user says so. Nothing else ever removes one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/run/tool_run.h"
#include "tool/undo/undo_format.h"

namespace tool {

// One file of the folder, as far as it reads.
struct FolderUndoFile {
  std::string path;
  uint64_t bytes = 0;
  bool undo = false;  // its header reads: an undo file
  UndoHeader header;
  enum class State { kWhole, kCutShort, kDamaged, kNoUndoFile } state = State::kNoUndoFile;
  std::string why;  // what is wrong with it, for a damaged file or none
};

// The regular files of folder (none when it is not there), oldest first
// by when each was begun, and those that are no undo file last, by name.
std::vector<FolderUndoFile> UndoFilesIn(const std::string& folder);

// The files begun more than days days before now (all of them for 0):
// undo files only.
std::vector<FolderUndoFile> BegunBefore(const std::vector<FolderUndoFile>& files, uint32_t days,
                                        int64_t now);

std::string UndoFilesText(const std::string& folder, const std::vector<FolderUndoFile>& files);
std::string UndoFilesJson(const std::string& folder, const std::vector<FolderUndoFile>& files);

// --undo-files: the exit code, 0 listed, 1 no folder is known or the list
// could not be written.
int RunUndoFiles(ToolRun* run);

// --forget-undo DAYS: lists what goes and asks (--yes answers, --dry-run
// lists only); 0 removed, declined or nothing to remove, 1 refused or a
// file could not be removed.
int RunForgetUndo(ToolRun* run);

}  // namespace tool
