// The native entry. With no arguments there is no dialog to open, so it shows the usage text.
#include "command_line.h"

int main(int argc, char** argv) {
  if (argc <= 1) {
    ShowUsage();
    return kExitFailure;
  }
  return RunCommandLine(argc, argv);
}
