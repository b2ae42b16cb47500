// The file layer on POSIX. Every file goes through a buffer small enough to stay in the processor's
// cache between its read, its swap and its write, and to come from the heap: a buffer of the
// file's size, fresh memory that the kernel must find and zero while the page cache is full of data
// still being written back, stalled the swap on a busy machine for many times the copy's own time.
// Which output a path gets is output_policy.cpp's choice.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "descriptor.h"
#include "outputs.h"
#include "streams.h"

namespace {

static_assert(sizeof(off_t) >= 8, "files beyond 4 GiB need a 64-bit file offset");

constexpr uint32_t kPiece = uint32_t{256} << 10;
constexpr size_t kPage = 4096;

FileError InputFailure(FileStep step, int error) {
  return SystemFailure(step, FileSide::kInput, error);
}

class PosixFileLayer final : public FileLayer {
 public:
  FileError OpenInput(const ResolvedPath& resolved, InputFile* input) override {
    const auto& path = static_cast<const PosixPath&>(resolved);
    if (path.standard >= 0) return OpenStandardInput(path, input);
    // Through what a link of /proc reached (the system never follows its text, which the walk went
    // on with), else by its name in the folder held, never following a link put there since.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const FileError& found = path.error;
    Descriptor opened;
    int error = EISDIR;
    if (path.reached)
      error = Reopen(path.reached.Get(), kFlags, &opened);
    else if (found.Failed())
      return Failure(found.step, FileSide::kInput, found.reason, found.code);
    else if (!path.entry.name.empty())
      error = Owned(openat(path.entry.folder.Get(), path.entry.name.c_str(), kFlags | O_NOFOLLOW),
                    &opened);
    if (error != 0) return InputFailure(FileStep::kOpen, error);
    struct stat info;
    if (fstat(opened.Get(), &info) != 0) return InputFailure(FileStep::kOpen, LastError());
    if (S_ISDIR(info.st_mode)) return InputFailure(FileStep::kOpen, EISDIR);
    if (S_ISFIFO(info.st_mode))
      WidenPipe(opened.Get());
    else
      ClearNonBlocking(opened.Get());
    // A regular file that reports a size of 0 may hold more, as the files under /proc whose length
    // is known only once read to their end: read as a stream, it is found empty only when it is.
    const bool sized = S_ISREG(info.st_mode) && info.st_size != 0;
    *input =
        InputFile(this, opened.Release(), sized ? InputFile::Kind::kFile : InputFile::Kind::kStream,
                  sized, sized ? static_cast<uint64_t>(info.st_size) : 0);
    return FileError{};
  }

  FileError Read(const InputFile& input, void* buffer, uint32_t size, uint32_t* got) override {
    size_t came = 0;
    const int error = ReadUpTo(static_cast<int>(input.Get()), buffer, size, &came);
    *got = static_cast<uint32_t>(came);
    return error != 0 ? InputFailure(FileStep::kRead, error) : FileError{};
  }

  void Close(InputFile::Handle file) override { close(static_cast<int>(file)); }

  FileError FindData(const InputFile& input, uint64_t at, uint64_t* start, uint64_t* end) override {
    const int file = static_cast<int>(input.Get());
    const uint64_t size = input.Size();
    *start = std::min(at, size);  // as far as the system cannot tell, all data to the end
    *end = size;
    const off_t data = lseek(file, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0 && errno == ENXIO) *start = size;  // only a hole follows
    const off_t hole = data < 0 ? -1 : lseek(file, data, SEEK_HOLE);
    if (hole >= 0) {  // data beyond the size swapped is a writer's, found at the commit
      *start = std::min(static_cast<uint64_t>(data), size);
      *end = std::min(static_cast<uint64_t>(hole), size);
    }
    return SkipTo(input, at);
  }

  FileError SkipTo(const InputFile& input, uint64_t at) override {
    if (lseek(static_cast<int>(input.Get()), static_cast<off_t>(at), SEEK_SET) < 0)
      return InputFailure(FileStep::kRead, LastError());
    return FileError{};
  }

  OwnedPath Resolve(const char* path, const ResolvedPath* folder) override {
    return ResolvePosixPath(folder ? static_cast<const PosixPath*>(folder)->Inside() : AT_FDCWD,
                            path);
  }

  FileError OpenOutput(InputFile& input, ResolvedPath& resolved, OwnedOutput* output) override {
    auto& path = static_cast<PosixPath&>(resolved);
    if (path.standard >= 0) return OpenStandardOutput(input, path, output);
    FileError error = OpenPosixOutput(input, path, output);
    if (!error.Failed()) WaitForWriter(input);
    if (const int stream = error.reason == FileReason::kHeld ? HolderAmongStandardStreams(input) : -1;
        stream >= 0)
      error = Failure(error.step, error.side, FileReason::kHeldAsStandardStream, stream);
    return error;
  }

  void* Allocate(size_t size) override {
    // Page-aligned: the kernel copies between the page cache and a buffer that starts mid-page at
    // about half the speed, and that copy is most of a swap's time.
    void* buffer = nullptr;
    return posix_memalign(&buffer, kPage, size) == 0 ? buffer : nullptr;
  }
  void Release(void* buffer) override { free(buffer); }
  uint32_t PieceBytes() override { return kPiece; }
};

PosixFileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
