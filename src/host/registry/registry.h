// The machine's registry: a tree of keys and values per predefined root,
// with key and value names compared without regard to case.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win32/win32.h"

namespace host {

// Orders names as the registry lists them: character by character in lower
// case, a name before any longer name it begins.
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct RegValue {
  std::string name;  // empty for the key's default value
  uint32_t type = REG_NONE;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string name;
  std::map<std::string, std::unique_ptr<RegKey>, NameLess> subkeys;
  std::map<std::string, RegValue, NameLess> values;

  RegKey* Find(const std::string& child) const;
  RegKey* Create(const std::string& child);
  // Follows a backslash-separated path; empty components are skipped.
  RegKey* FindPath(const std::string& path) const;
  const RegValue* Value(const std::string& valueName) const;
};

// Number of predefined roots: HKEY_CLASSES_ROOT (0x80000000) up to
// HKEY_DYN_DATA (0x80000006).
constexpr int kRootCount = 7;

struct RegistryTree {
  RegKey roots[kRootCount];

  // The root for a predefined key handle, or null when `key` is none.
  RegKey* Root(HKEY key);
  // The root named as in an export file ("HKEY_LOCAL_MACHINE"), any case.
  RegKey* RootByName(const std::string& name);
};

// The registry of the running machine; replaced whole when a machine loads.
void InstallRegistry(std::unique_ptr<RegistryTree> tree);
bool RegistryInstalled();
// Looks a key up without opening a handle (for the host's own reads).
const RegKey* FindKey(HKEY root, const std::string& path);
// The same key open to change, for the host's own set-up of the machine at
// boot (the card of DUNMORE_CARD, what a real card says of itself).
RegKey* FindKeyToChange(HKEY root, const std::string& path);
// A REG_SZ value's text, or false when the value is missing or not text.
bool ReadText(const RegKey* key, const std::string& valueName, std::string* text);

}  // namespace host
