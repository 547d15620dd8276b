// The machine-file parser gets any text: it either applies it or names the
// line it refuses, and never reads or writes outside what it was given.
#include <string>

#include "fuzz/fuzz_entries.h"
#include "host/registry/regedit4.h"
#include "host/registry/registry.h"

namespace {

// Every key below root, with its values, is reachable and named; walking
// the tree touches every node the parser made.
size_t CountNodes(const host::RegKey& key) {
  size_t count = 1 + key.values.size();
  for (const auto& [name, child] : key.subkeys) {
    FUZZ_CHECK(child != nullptr);
    FUZZ_CHECK(!name.empty());
    count += CountNodes(*child);
  }
  return count;
}

}  // namespace

int FuzzRegedit4(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  host::RegistryTree tree;
  std::string error;
  bool parsed = host::ParseRegedit4(text, "fuzz.reg", &tree, &error);
  if (!parsed) {
    // A refusal names the file and a line of it.
    FUZZ_CHECK(error.rfind("fuzz.reg:", 0) == 0);
  }
  size_t nodes = 0;
  for (const host::RegKey& root : tree.roots) nodes += CountNodes(root);
  FUZZ_CHECK(nodes >= static_cast<size_t>(host::kRootCount));
  return 0;
}
