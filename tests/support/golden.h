// Screens and images compared with committed expected files under
// tests/golden. DUNMORE_UPDATE_GOLDEN=1 writes them anew instead (review the
// difference before committing it).
#pragma once

#include <string>

#include "support/program_run.h"

namespace testsupport {

// Compares the screen's rows with tests/golden/<name>.screen; a difference
// fails the test with both texts.
void ExpectGoldenScreen(const Screen& screen, const std::string& name);

}  // namespace testsupport
