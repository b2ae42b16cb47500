// Options compared as Linux users expect, without regard to ASCII case.
#include <strings.h>

#include "command_line.h"

bool IsSameOption(const char* argument, const char* option) {
  return strcasecmp(argument, option) == 0;
}
