// Preloaded into the built program by the fault tests: makes the calls that put a staged file in
// place and flush it fail for real, as a file system or a disk can on its own, and lets another
// process act just before the first rename, in the moment no test could otherwise choose.
//   ORVANE_FAIL_CALL    renameat2, renameat, linkat, fsync or fdatasync: the call made to fail
//   ORVANE_FAIL_ERRNO   the errno it fails with (EIO where unset)
//   ORVANE_FAIL_NTH     only its Nth call fails (every call where unset, empty or 0)
//   ORVANE_BEFORE_RENAME  a shell command run once before the first rename, waited for until it
//                       ends or a lease on a file it opens shows as breaking (its open then waits
//                       for the program to give the file up)
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Whether this call of `call`, counted in `count`, is to fail; errno is set where it is.
bool Fails(const char* call, int* count) {
  const char* failed = getenv("ORVANE_FAIL_CALL");
  if (failed == nullptr || strcmp(failed, call) != 0) return false;
  ++*count;
  const char* nth = getenv("ORVANE_FAIL_NTH");
  if (nth != nullptr && atoi(nth) != 0 && atoi(nth) != *count) return false;
  const char* code = getenv("ORVANE_FAIL_ERRNO");
  errno = code != nullptr ? atoi(code) : EIO;
  return true;
}

// The descriptors on which this process holds a read lease.
std::vector<int> Leased() {
  std::vector<int> leased;
  for (int fd = 3; fd < 1024; ++fd) {
    if (fcntl(fd, F_GETLEASE) == F_RDLCK) leased.push_back(fd);
  }
  return leased;
}

// Whether another process's open for writing is waiting for one of `leased` to be given up.
bool IsLeaseBreaking(const std::vector<int>& leased) {
  for (const int fd : leased) {
    if (fcntl(fd, F_GETLEASE) != F_RDLCK) return true;
  }
  return false;
}

void BeforeRename() {
  static bool done = false;
  const char* command = getenv("ORVANE_BEFORE_RENAME");
  if (done || command == nullptr) return;
  done = true;
  const std::vector<int> leased = Leased();
  const pid_t child = fork();
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
    _exit(127);
  }
  for (int i = 0; child > 0 && i < 1000; ++i) {
    if (waitpid(child, nullptr, WNOHANG) == child || IsLeaseBreaking(leased)) return;
    usleep(10000);
  }
}

template <typename Call>
Call Next(const char* name) {
  return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int renameat2(int from, const char* fromName, int to, const char* toName, unsigned flags) {
  static int count = 0;
  BeforeRename();
  if (Fails("renameat2", &count)) return -1;
  return Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(
      from, fromName, to, toName, flags);
}

int renameat(int from, const char* fromName, int to, const char* toName) {
  static int count = 0;
  BeforeRename();
  if (Fails("renameat", &count)) return -1;
  return Next<int (*)(int, const char*, int, const char*)>("renameat")(from, fromName, to, toName);
}

int linkat(int from, const char* fromName, int to, const char* toName, int flags) {
  static int count = 0;
  if (Fails("linkat", &count)) return -1;
  return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(from, fromName, to,
                                                                          toName, flags);
}

int fsync(int fd) {
  static int count = 0;
  if (Fails("fsync", &count)) return -1;
  return Next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
  static int count = 0;
  if (Fails("fdatasync", &count)) return -1;
  return Next<int (*)(int)>("fdatasync")(fd);
}
}
