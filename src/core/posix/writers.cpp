#include "writers.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

FileError LockAgainstOtherSwaps(int input, Descriptor* held) {
  if (const int error = Owned(fcntl(input, F_DUPFD_CLOEXEC, STDERR_FILENO + 1), held))
    return SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
  if (flock(held->Get(), LOCK_EX | LOCK_NB) == 0) return FileError{};
  if (errno == EWOULDBLOCK) return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kHeld);
  return SystemFailure(FileStep::kOpen, FileSide::kOutput, LastError());
}

FileError WatchForWriters(int held, bool* watched, struct sigaction* signalBefore) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGIO, &ignore, signalBefore);
  *watched = fcntl(held, F_SETLEASE, F_RDLCK) == 0;
  const int error = errno;
  if (!*watched) sigaction(SIGIO, signalBefore, nullptr);
  if (*watched || error != EAGAIN) return FileError{};
  return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kHeld);
}

void StopWatching(Descriptor* held, const struct sigaction& signalBefore) {
  held->Reset();
  sigaction(SIGIO, &signalBefore, nullptr);
}

bool HasWriterCome(int held, bool watched) { return watched && fcntl(held, F_GETLEASE) != F_RDLCK; }
