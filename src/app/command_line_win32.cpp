// The command line's platform needs on Windows: the user-locale comparison and a message box.
#include <windows.h>

#include "command_line.h"

bool IsSameOption(const char* argument, const char* option) {
  return lstrcmpiA(argument, option) == 0;
}

void ShowUsage() { MessageBoxA(nullptr, kUsageText, kUsageCaption, MB_OK | MB_ICONINFORMATION); }
