// The registry tree and the Reg* functions of the Win32 subset.
#include "host/registry/registry.h"

#include <cctype>
#include <cstring>
#include <iterator>
#include <utility>

namespace host {

namespace {

int Lower(char c) {
  return std::tolower(static_cast<unsigned char>(c));
}

// The names export files use for the predefined roots, at their index
// (handle value less 0x80000000). Index 4 is the performance data root,
// which is no key of a registry file.
const char* const kRootNames[kRootCount] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

constexpr uintptr_t kFirstRoot = 0x80000000u;

bool IsPredefined(uintptr_t value) {
  return value >= kFirstRoot && value < kFirstRoot + kRootCount;
}

// An opened key keeps the tree it belongs to alive, so that loading another
// machine does not pull a key from under a caller that still holds it.
struct OpenKey {
  std::shared_ptr<RegistryTree> tree;
  RegKey* key;
};

struct RegistryState {
  std::shared_ptr<RegistryTree> tree;
  std::map<uintptr_t, OpenKey> open;
  uintptr_t nextHandle = 0x1000;
};

RegistryState& State() {
  static RegistryState state;
  return state;
}

// Resolves a handle to its key: a predefined root or an opened key.
RegKey* Resolve(HKEY handle) {
  RegistryState& state = State();
  auto value = reinterpret_cast<uintptr_t>(handle);
  if (IsPredefined(value)) return state.tree ? state.tree->Root(handle) : nullptr;
  auto found = state.open.find(value);
  return found == state.open.end() ? nullptr : found->second.key;
}

}  // namespace

bool NameLess::operator()(const std::string& a, const std::string& b) const {
  size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    int difference = Lower(a[i]) - Lower(b[i]);
    if (difference != 0) return difference < 0;
  }
  return a.size() < b.size();
}

RegKey* RegKey::Find(const std::string& child) const {
  auto found = subkeys.find(child);
  return found == subkeys.end() ? nullptr : found->second.get();
}

RegKey* RegKey::Create(const std::string& child) {
  std::unique_ptr<RegKey>& slot = subkeys[child];
  if (!slot) {
    slot = std::make_unique<RegKey>();
    slot->name = child;
  }
  return slot.get();
}

RegKey* RegKey::FindPath(const std::string& path) const {
  const RegKey* key = this;
  size_t start = 0;
  while (key != nullptr && start < path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) key = key->Find(path.substr(start, end - start));
    start = end + 1;
  }
  return const_cast<RegKey*>(key);
}

const RegValue* RegKey::Value(const std::string& valueName) const {
  auto found = values.find(valueName);
  return found == values.end() ? nullptr : &found->second;
}

RegKey* RegistryTree::Root(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  if (!IsPredefined(value)) return nullptr;
  int index = static_cast<int>(value - kFirstRoot);
  return kRootNames[index] == nullptr ? nullptr : &roots[index];
}

RegKey* RegistryTree::RootByName(const std::string& name) {
  NameLess less;
  for (int i = 0; i < kRootCount; ++i) {
    if (kRootNames[i] != nullptr && !less(name, kRootNames[i]) && !less(kRootNames[i], name)) {
      return &roots[i];
    }
  }
  return nullptr;
}

void InstallRegistry(std::unique_ptr<RegistryTree> tree) {
  State().tree = std::move(tree);
}

bool RegistryInstalled() {
  return State().tree != nullptr;
}

const RegKey* FindKey(HKEY root, const std::string& path) {
  RegistryState& state = State();
  if (!state.tree) return nullptr;
  RegKey* key = state.tree->Root(root);
  return key == nullptr ? nullptr : key->FindPath(path);
}

RegKey* FindKeyToChange(HKEY root, const std::string& path) {
  RegistryState& state = State();
  if (!state.tree) return nullptr;
  RegKey* key = state.tree->Root(root);
  return key == nullptr ? nullptr : key->FindPath(path);
}

bool ReadText(const RegKey* key, const std::string& valueName, std::string* text) {
  if (key == nullptr) return false;
  const RegValue* value = key->Value(valueName);
  if (value == nullptr || value->type != REG_SZ) return false;
  // Text is kept with its terminating zero; it ends at the first zero.
  const auto* bytes = reinterpret_cast<const char*>(value->data.data());
  text->assign(bytes, strnlen(bytes, value->data.size()));
  return true;
}

int OpenKeyCount() {
  return static_cast<int>(State().open.size());
}

}  // namespace host

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  host::RegKey* parent = host::Resolve(key);
  if (parent == nullptr) return ERROR_INVALID_HANDLE;
  // No subkey opens the same key once more, as a handle of its own.
  host::RegKey* opened = parent->FindPath(subKey == nullptr ? "" : subKey);
  if (opened == nullptr) return ERROR_FILE_NOT_FOUND;
  host::RegistryState& state = host::State();
  uintptr_t handle = state.nextHandle;
  state.nextHandle += 4;
  state.open[handle] = host::OpenKey{state.tree, opened};
  *result = reinterpret_cast<HKEY>(handle);
  return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD /*reserved*/, LPDWORD type, LPBYTE data,
                      LPDWORD size) {
  host::RegKey* opened = host::Resolve(key);
  if (opened == nullptr) return ERROR_INVALID_HANDLE;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  const host::RegValue* value = opened->Value(name == nullptr ? "" : name);
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  auto needed = static_cast<DWORD>(value->data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    if (needed > 0) std::memcpy(data, value->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD /*reserved*/,
                   LPSTR className, LPDWORD classSize, PFILETIME lastWrite) {
  host::RegKey* opened = host::Resolve(key);
  if (opened == nullptr) return ERROR_INVALID_HANDLE;
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  if (index >= opened->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto child = opened->subkeys.begin();
  std::advance(child, index);
  const std::string& childName = child->second->name;
  // The size is in characters and must leave room for the terminating zero.
  if (childName.size() + 1 > *nameSize) return ERROR_MORE_DATA;
  std::memcpy(name, childName.c_str(), childName.size() + 1);
  *nameSize = static_cast<DWORD>(childName.size());
  // Keys here carry no class and no write time.
  if (className != nullptr && classSize != nullptr && *classSize > 0) className[0] = '\0';
  if (classSize != nullptr) *classSize = 0;
  if (lastWrite != nullptr) *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  auto value = reinterpret_cast<uintptr_t>(key);
  if (host::IsPredefined(value)) return ERROR_SUCCESS;
  if (host::State().open.erase(value) == 0) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}
