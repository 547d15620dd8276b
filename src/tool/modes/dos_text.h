// The texts of a FAT volume (its label, its file-system name) are bytes in
// the DOS code page of the machine that wrote them, which the volume does
// not name. Outputs show them decoded from code page 437, the PC's own and
// the US machines' (a Western European machine's 850 differs in some
// letters, a Japanese machine's 932 in all above 0x7F).
#pragma once

#include <string>

namespace tool {

// The bytes as UTF-8: those from 0x80 on as code page 437's characters, the
// rest as they are (control characters too, for the outputs to escape).
std::string FromCodePage437(const std::string& bytes);

}  // namespace tool
