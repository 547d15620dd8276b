// The native program's command line: dunmore [OPTIONS] [CARD]. Each option
// stands for one of the variables the machine reads at boot (CARD for
// DUNMORE_CARD, --geometry for DUNMORE_GEOMETRY, --machine for
// DUNMORE_MACHINE, --clock for DUNMORE_CLOCK), so the command line is parsed
// once, checked against the variables, and put into them; the rest of the
// machine reads the variables alone and checks their values as it always did.
#pragma once

#include <string>

namespace host {

// Keeps the arguments the process was started with, for Boot to parse. Only
// the dunmore executable hands them over (see program_arguments.cpp); a
// program that never does, such as a test, boots as if it had none.
void KeepProgramArguments(int argc, char** argv);

enum class CommandLineOutcome {
  kRun,         // the options are in their variables: boot on
  kHelp,        // -h, --help: the usage goes to standard output
  kVersion,     // -V, --version
  kUsageError,  // an unknown option, a missing value, a second CARD
  kRefused,     // an option and its variable disagree, or a value is empty
};

// Parses argv (argv[0] the program) and, for kRun, sets each variable an
// option gives. *message is what to print for every other outcome: the usage
// (behind what was wrong, for kUsageError), the version, or one line naming
// the option, the variable and what is wrong.
CommandLineOutcome ParseCommandLine(int argc, char* const* argv, std::string* message);

// Parses the kept arguments, first of all at boot: help and version are
// printed and the process ends with 0; a refusal ends it with 1, its message
// on standard error. Nothing else is touched by then.
void ApplyCommandLine();

// How a refusal names the setting of `variable` with its value: as the option
// when the command line gave it ("--clock 12x", "card /dev/sdc1"), else as the
// variable ("DUNMORE_CLOCK=12x").
std::string SettingText(const char* variable, const std::string& value);

// The variable's value, empty when it is not set: what the command line put
// there, or what the environment gave.
std::string Environment(const char* name);

// "--help"'s text.
std::string UsageText();

}  // namespace host
