// The file operations the swap needs, behind one small interface: a Win32 and a POSIX
// implementation serve the program, and tests wrap either to make a fault happen that nothing real
// can produce on demand (a failed or short read or write, a failed allocation, a staged file that
// cannot be created, given its metadata, flushed or put in place).
//
// Every path is resolved once by the layer into a ResolvedPath, which the front end may also
// compare with others; natively, standard input and output are such values too. The swap opens the
// input its value names, asks the layer for the output at the other value, writes the swapped
// pieces to that output and commits it. How the output is written is the platform's choice, made once when it
// is opened: a staged file beside the file it is to replace, renamed over it on commit, or the file
// itself, written directly. Whatever the output holds (the staged file, the folder it was found in,
// the file it replaces) it owns, and gives up when it goes: an output that was not committed is
// abandoned, which removes a staged file and never touches the file it was to replace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

#include "file_error.h"

class FileLayer;

/// An input open for reading, closed when its owner goes, or before (a platform may not replace a
/// file while it is open).
class InputFile {
 public:
  /// A Win32 HANDLE or a POSIX descriptor, widened.
  using Handle = intptr_t;
  static constexpr Handle kNoFile = -1;
  /// A file is read as `Size()` bytes, and may be the output itself; a stream is read until it
  /// ends, and its output is written as the blocks come.
  enum class Kind { kFile, kStream };

  InputFile() = default;
  /// `layer` closes `handle` when the input goes; with no layer, the handle is another's to close.
  InputFile(FileLayer* layer, Handle handle, Kind kind, bool regular, uint64_t size)
      : layer_(layer), handle_(handle), kind_(kind), regular_(regular), size_(size) {}
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile(InputFile&& other) noexcept { *this = std::move(other); }
  InputFile& operator=(InputFile&& other) noexcept;
  ~InputFile() { Close(); }

  Handle Get() const { return handle_; }
  bool IsFile() const { return kind_ == Kind::kFile; }
  /// A regular file, whose size is known before it is read (a stream may be one too).
  bool IsRegular() const { return regular_; }
  uint64_t Size() const { return size_; }
  void Close();
  /// Gives up the handle, for another owner.
  Handle Release() {
    const Handle handle = handle_;
    handle_ = kNoFile;
    return handle;
  }

 private:
  FileLayer* layer_ = nullptr;
  Handle handle_ = kNoFile;
  Kind kind_ = Kind::kStream;
  bool regular_ = false;
  uint64_t size_ = 0;
};

/// What a path reached when it was resolved: nothing, or a file with its identity (which two names
/// of one file share, whatever their spelling or links) and kind.
struct PathTarget {
  /// A terminal is told apart only for a standard stream; a path to one reaches kOther.
  enum class Kind : uint8_t { kNothing, kRegular, kFolder, kTerminal, kOther };
  Kind kind = Kind::kNothing;
  uint64_t device = 0;
  uint64_t file = 0;
  uint64_t size = 0;  ///< a regular file's

  bool IsSameFile(const PathTarget& other) const {
    return kind != Kind::kNothing && other.kind != Kind::kNothing && device == other.device &&
           file == other.file;
  }
};

/// Where a swap writes: Write the swapped pieces in order, then Commit. Going without a commit, or
/// after a failed one, abandons it.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  /// Writes exactly `size` bytes after those written before.
  virtual FileError Write(const void* data, uint32_t size) = 0;
  /// Makes what was written the output: for a staged file, checks that the file it replaces is
  /// unchanged and puts the staged file in its place in one step.
  virtual FileError Commit() = 0;
  /// The largest file read whole into one buffer and written with one call; a larger one, or one
  /// whose buffer cannot be had, goes in pieces.
  virtual uint64_t LargestWholeWrite() const { return 0; }
  /// Leaves the next `size` bytes as a hole, which reads as zeros, without writing them; false,
  /// leaving nothing, where the output cannot (it is then written whole).
  virtual bool SkipHole(uint64_t size) {
    (void)size;
    return false;
  }
  /// What the output's name reaches once the output took it, where the layer tells: the file
  /// written, which a staged file taking the name has made another than the one found before;
  /// nothing before then.
  virtual PathTarget Written() const { return PathTarget(); }
};

/// Outputs and resolved paths live in memory of their own, from the C heap: the Windows program
/// links no C++ heap.
struct FreeDeleter {
  template <typename T>
  void operator()(T* owned) const {
    owned->~T();
    free(owned);
  }
};
using OwnedOutput = std::unique_ptr<OutputFile, FreeDeleter>;

/// A new T, owned as a Base, or none where its memory cannot be had.
template <typename T, typename Base = OutputFile, typename... Arguments>
std::unique_ptr<Base, FreeDeleter> MakeOwned(Arguments&&... arguments) {
  void* memory = malloc(sizeof(T));
  return std::unique_ptr<Base, FreeDeleter>(
      memory ? new (memory) T(std::forward<Arguments>(arguments)...) : nullptr);
}

/// A new output of type T, or none where its memory cannot be had.
template <typename T, typename... Arguments>
OwnedOutput MakeOutput(Arguments&&... arguments) {
  return MakeOwned<T, OutputFile>(std::forward<Arguments>(arguments)...);
}

/// A path resolved once by the file layer (see FileLayer::Resolve), into what every later step
/// uses: natively, the folder its final target is in, held open, the target's name in it and what
/// was there, so that nobody who can write a folder on the way can redirect a later step; on
/// Windows, the path as given. `error` says why it could not be followed where it could not (a
/// missing folder, a link the system would not follow): opening its output then fails with it.
class ResolvedPath {
 public:
  virtual ~ResolvedPath() = default;
  PathTarget target;
  FileError error;
};
using OwnedPath = std::unique_ptr<ResolvedPath, FreeDeleter>;

class FileLayer {
 public:
  /// Opens the existing file `path` names for reading, sharing reading and writing with other
  /// processes; a value may be opened as an input and then, swapped in place, as its output. A
  /// folder is not a file: opening one fails.
  virtual FileError OpenInput(const ResolvedPath& path, InputFile* input) = 0;
  /// Reads until `size` bytes have come or the input has ended, and stores how many came: fewer
  /// than asked only at the end of the input.
  virtual FileError Read(const InputFile& input, void* buffer, uint32_t size, uint32_t* got) = 0;
  virtual void Close(InputFile::Handle file) = 0;
  /// The first stretch of data of the file `input` at or after `at`, where its reading is, as far
  /// as the system tells: the rest is holes, which read as zeros. From `at` to the file's end where
  /// the system cannot tell; at the file's end where only a hole follows. Its reading stays at
  /// `at`.
  virtual FileError FindData(const InputFile& input, uint64_t at, uint64_t* start, uint64_t* end) {
    *start = at < input.Size() ? at : input.Size();
    *end = input.Size();
    return FileError{};
  }
  /// Moves the reading of the file `input` on to `at`, past a hole.
  virtual FileError SkipTo(const InputFile& input, uint64_t at) {
    (void)input;
    (void)at;
    return Failure(FileStep::kRead, FileSide::kInput, FileReason::kShortTransfer);
  }
  /// Resolves `path`, relative to the folder `folder` reached (the current folder where null),
  /// once: every later use of the path goes through the value. Null only where no memory could be
  /// had.
  virtual OwnedPath Resolve(const char* path, const ResolvedPath* folder) = 0;
  /// Opens the output that `path` names for `input`, taking what the value holds: the input itself
  /// (a swap in place), a file that does not exist yet, an existing file, or something written
  /// directly (a device, a pipe, standard output). The file `path` names is not touched before the first Write (a
  /// staged file may appear beside it), and an output that was not there before appears only on
  /// Commit or, where it is written directly, with the first Write.
  virtual FileError OpenOutput(InputFile& input, ResolvedPath& path, OwnedOutput* output) = 0;

  /// A buffer of `size` bytes, or null when it cannot be had.
  virtual void* Allocate(size_t size) = 0;
  virtual void Release(void* buffer) = 0;
  /// The size of each piece of a file that is not read whole, and of a stream.
  virtual uint32_t PieceBytes() = 0;

 protected:
  ~FileLayer() = default;
};

inline InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    layer_ = other.layer_;
    handle_ = other.handle_;
    kind_ = other.kind_;
    regular_ = other.regular_;
    size_ = other.size_;
    other.handle_ = kNoFile;
  }
  return *this;
}

inline void InputFile::Close() {
  if (handle_ != kNoFile && layer_) layer_->Close(handle_);
  handle_ = kNoFile;
}

/// The platform's own file layer.
FileLayer& SystemFileLayer();
