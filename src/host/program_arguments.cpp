// Hands the dunmore executable's arguments to the machine. The system's
// main() takes none, as on Windows, so the arguments are taken as the
// process starts: the C library calls each function of .init_array with
// argc, argv and the environment before main(). This object is linked into
// the dunmore executable alone, never into the host library, so that a test
// program's own arguments are never taken for dunmore's.
#include "host/command_line.h"

namespace {

void KeepArguments(int argc, char** argv, char** /*environment*/) {
  host::KeepProgramArguments(argc, argv);
}

__attribute__((section(".init_array"), used)) void (*const keepArguments)(int, char**,
                                                                          char**) = KeepArguments;

}  // namespace
