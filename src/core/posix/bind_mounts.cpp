#include "bind_mounts.h"

#include <sys/sysmacros.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "descriptor.h"

namespace {

// A mount point as /proc/self/mountinfo spells it, its space, tab, line feed and backslash written
// as three octal digits after a backslash, decoded in place.
void DecodeMountPoint(char* point) {
  char* to = point;
  for (const char* from = point; *from != '\0'; ++to) {
    if (from[0] == '\\' && from[1] >= '0' && from[1] <= '3' && from[2] && from[3]) {
      *to = static_cast<char>((from[1] - '0') * 64 + (from[2] - '0') * 8 + (from[3] - '0'));
      from += 4;
    } else {
      *to = *from++;
    }
  }
  *to = '\0';
}

}  // namespace

bool IsMountedSomewhere(const struct stat& info) {
  const std::unique_ptr<FILE, int (*)(FILE*)> mounts(fopen("/proc/self/mountinfo", "re"), fclose);
  if (!mounts) return false;
  // What getline allocates, grown as it needs, freed when its owner goes.
  struct Line {
    char* text = nullptr;
    size_t room = 0;
    ~Line() { free(text); }
  } buffer;
  bool mounted = false;
  while (!mounted && getline(&buffer.text, &buffer.room, mounts.get()) > 0) {
    char* line = buffer.text;
    unsigned major = 0, minor = 0;
    int pointAt = 0, pointEnd = 0;
    if (sscanf(line, "%*s %*s %u:%u %*s %n%*s%n", &major, &minor, &pointAt, &pointEnd) != 2 ||
        pointEnd == 0 || makedev(major, minor) != info.st_dev)
      continue;
    line[pointEnd] = '\0';
    DecodeMountPoint(line + pointAt);
    struct stat point;
    mounted =
        stat(line + pointAt, &point) == 0 && S_ISREG(point.st_mode) && IsSameFile(point, info);
  }
  return mounted;
}
