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

// Compares the card image with tests/golden/<name>.image: the image's size,
// then every 16-byte row that holds a byte other than zero, as a hex dump at
// its offset in the image. A row left out is all zero, so the dump pins every
// byte of the image.
void ExpectGoldenImage(const std::string& image, const std::string& name);

}  // namespace testsupport
