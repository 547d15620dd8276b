// Registry export files in the REGEDIT4 format, read with the grammar of the
// registry editor's import so that a machine file imports unchanged there.
#pragma once

#include <string>

#include "host/registry/registry.h"

namespace host {

// Applies the keys, values and deletions of `text` to *tree, in file order.
// A line the import would skip or refuse makes the whole file fail: *error
// then reads "<name>:<line>: <what is wrong>" and *tree may be half filled.
bool ParseRegedit4(const std::string& text, const std::string& name, RegistryTree* tree,
                   std::string* error);

}  // namespace host
