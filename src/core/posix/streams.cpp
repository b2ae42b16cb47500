#include "streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "outputs.h"
#include "standard_streams.h"

namespace {

// Which standard descriptors were closed when the program started, one bit each.
unsigned closedAtStart = 0;

bool IsSameRegularFile(int a, int b) {
  struct stat first;
  struct stat second;
  return fstat(a, &first) == 0 && fstat(b, &second) == 0 && S_ISREG(first.st_mode) &&
         S_ISREG(second.st_mode) && IsSameFile(first, second);
}

}  // namespace

void FillClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    closedAtStart |= 1u << fd;
    Descriptor null(open("/dev/null", O_RDWR));
    if (null && null.Get() != fd)
      dup2(null.Get(), fd);
    else
      null.Release();  // it took the closed number, and stays there
  }
}

OwnedPath StandardStream(FileSide side) {
  OwnedPath made = MakeOwned<PosixPath, ResolvedPath>();
  if (!made) return made;
  auto& stream = static_cast<PosixPath&>(*made);
  stream.standard = side == FileSide::kInput ? STDIN_FILENO : STDOUT_FILENO;
  struct stat info;
  if (closedAtStart & (1u << stream.standard)) {
    stream.error = Failure(FileStep::kOpen, side, FileReason::kClosed);
  } else if (fstat(stream.standard, &info) != 0) {
    stream.error = SystemFailure(FileStep::kOpen, side, LastError());
  } else {
    stream.target = TargetOf(info);
    // Standard output on a folder (`1<dir`) is no folder to write files into.
    if (stream.target.kind == PathTarget::Kind::kFolder) stream.target.kind = PathTarget::Kind::kOther;
    if (isatty(stream.standard)) stream.target.kind = PathTarget::Kind::kTerminal;
  }
  return made;
}

StreamType TypeOf(InputFile::Handle file) {
  const int fd = static_cast<int>(file);
  struct stat info;
  if (fstat(fd, &info) != 0) return StreamType::kClosed;
  if (S_ISREG(info.st_mode)) return StreamType::kRegular;
  if (S_ISFIFO(info.st_mode)) return StreamType::kPipe;
  return isatty(fd) ? StreamType::kTerminal : StreamType::kOther;
}

FileError OpenStandardInput(const PosixPath& path, InputFile* input) {
  if (path.error.Failed()) return path.error;
  struct stat info;
  if (fstat(path.standard, &info) != 0)
    return SystemFailure(FileStep::kOpen, FileSide::kInput, LastError());
  const bool regular = S_ISREG(info.st_mode);
  WidenPipe(path.standard);
  *input = InputFile(nullptr, path.standard, InputFile::Kind::kStream, regular,
                     regular ? static_cast<uint64_t>(info.st_size) : 0);
  return FileError{};
}

FileError OpenStandardOutput(InputFile& input, const PosixPath& path, OwnedOutput* output) {
  if (path.error.Failed()) return path.error;
  if (IsSameRegularFile(static_cast<int>(input.Get()), path.standard))
    return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kIsInput);
  WaitForWriter(input);
  WidenPipe(path.standard);
  *output = MakeOutput<DirectOutput>(path.standard);
  return *output ? FileError{} : OutOfMemory(FileSide::kOutput);
}

int HolderAmongStandardStreams(const InputFile& input) {
  for (int fd = STDIN_FILENO; fd <= STDOUT_FILENO; ++fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_ACCMODE) != O_RDONLY &&
        IsSameRegularFile(fd, static_cast<int>(input.Get())))
      return fd;
  }
  return -1;
}

bool IsClosedStandardStream(int folder, const std::string& name) {
  const int fd = name.size() == 1 ? name[0] - '0' : -1;
  if (fd < STDIN_FILENO || fd > STDERR_FILENO || !(closedAtStart & (1u << fd))) return false;
  struct stat own;
  struct stat here;
  return stat("/proc/self/fd", &own) == 0 && fstat(folder, &here) == 0 && IsSameFile(own, here);
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
