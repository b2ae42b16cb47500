// Options compared as Windows does, in the user's locale.
#include <windows.h>

#include "command_line.h"

bool IsSameOption(const char* argument, const char* option) {
  return lstrcmpiA(argument, option) == 0;
}
