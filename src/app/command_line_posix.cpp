// The command line's platform needs on POSIX: there is no message box, so the usage text goes to
// standard error, followed by one line feed.
#include <strings.h>

#include <cstdio>

#include "command_line.h"

bool IsSameOption(const char* argument, const char* option) {
  return strcasecmp(argument, option) == 0;
}

void ShowUsage() {
  fputs(kUsageText, stderr);
  fputc('\n', stderr);
}
