#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "descriptor.h"
#include "outputs.h"
#include "standard_streams.h"

unsigned FillClosedStandardStreams() {
  unsigned closed = 0;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    closed |= 1u << fd;
    Descriptor null(open("/dev/null", O_RDWR));
    if (null && null.Get() != fd)
      dup2(null.Get(), fd);
    else
      null.Release();  // it took the closed number, and stays there
  }
  return closed;
}

StreamType TypeOf(InputFile::Handle file) {
  const int fd = static_cast<int>(file);
  struct stat info;
  if (fstat(fd, &info) != 0) return StreamType::kClosed;
  if (S_ISREG(info.st_mode)) return StreamType::kRegular;
  if (S_ISFIFO(info.st_mode)) return StreamType::kPipe;
  return isatty(fd) ? StreamType::kTerminal : StreamType::kOther;
}

bool IsSameRegularFile(InputFile::Handle a, InputFile::Handle b) {
  struct stat first;
  struct stat second;
  return fstat(static_cast<int>(a), &first) == 0 && fstat(static_cast<int>(b), &second) == 0 &&
         S_ISREG(first.st_mode) && S_ISREG(second.st_mode) && IsSameFile(first, second);
}

bool IsWriterOf(InputFile::Handle writer, InputFile::Handle file) {
  const int flags = fcntl(static_cast<int>(writer), F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && IsSameRegularFile(writer, file);
}

FileError OpenStandardInput(InputFile* input) {
  struct stat info;
  if (fstat(STDIN_FILENO, &info) != 0)
    return SystemFailure(FileStep::kOpen, FileSide::kInput, LastError());
  const bool regular = S_ISREG(info.st_mode);
  WidenPipe(STDIN_FILENO);
  *input = InputFile(nullptr, STDIN_FILENO, InputFile::Kind::kStream, regular,
                     regular ? static_cast<uint64_t>(info.st_size) : 0);
  return FileError{};
}

OwnedOutput StandardOutput() {
  WidenPipe(STDOUT_FILENO);
  return MakeOutput<DirectOutput>(STDOUT_FILENO);
}

void WaitForWriter(InputFile& input) {
  const int fd = static_cast<int>(input.Get());
  struct stat info;
  if (fd <= STDERR_FILENO || fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode) ||
      !(fcntl(fd, F_GETFL) & O_NONBLOCK))
    return;
  Descriptor waiting;
  struct stat again;
  if (Reopen(fd, O_RDONLY, &waiting) == 0 && fstat(waiting.Get(), &again) == 0 &&
      IsSameFile(again, info)) {
    input = InputFile(&SystemFileLayer(), waiting.Release(), InputFile::Kind::kStream, false, 0);
    return;
  }
  ClearNonBlocking(fd);
}
