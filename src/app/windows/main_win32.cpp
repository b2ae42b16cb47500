// The Windows entry: any argument selects the command line, none the dialog.
#include <windows.h>

#include <cstdlib>

#include "command_line_win32.h"
#include "main_dialog.h"

// Arguments reach the parser as typed: the runtime's start-up must not expand `*.bin` into the
// names of matching files.
extern "C" {
int _dowildcard = 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  if (__argc > 1) return RunCommandLine(__argc, __argv);
  return RunMainDialog(instance, showCommand);
}
