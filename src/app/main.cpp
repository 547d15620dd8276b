#include "app/run_utility.h"

// The command line is ignored: the run result is the exit code.
int main() {
  return RunUtility();
}
