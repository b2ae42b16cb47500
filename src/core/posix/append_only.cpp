#include "append_only.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

bool IsAppendOnly(int folder) {
  int flags = 0;
  return ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
}
