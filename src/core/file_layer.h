// The file operations the swap needs, behind one small interface: a Win32 and a POSIX
// implementation serve the program, and tests can wrap either to make a fault happen that nothing
// real can produce (a short read, a short write, a failed allocation) or to make a file count as
// large.
#pragma once

#include <cstddef>
#include <cstdint>

class FileLayer {
 public:
  /// An open file: a Win32 HANDLE or a POSIX descriptor, widened. kNoFile marks a failed open.
  using Handle = intptr_t;
  static constexpr Handle kNoFile = -1;

  /// Opens an existing file for reading, sharing reading and writing with other processes.
  /// A folder is not a file: opening one fails.
  virtual Handle OpenInput(const char* path) = 0;
  /// Creates the file, or truncates an existing one, for writing, sharing reading and writing.
  virtual Handle CreateOutput(const char* path) = 0;
  /// Opens an existing file for reading and writing without truncating it, sharing reading and
  /// writing: a file too large for memory is swapped in place through it.
  virtual Handle OpenInPlace(const char* path) = 0;
  /// True when `path` names the very file open as `file` (the same volume and file index, or device
  /// and inode), whatever the spelling of the path or the links leading to it. False when `path`
  /// names no existing file.
  virtual bool IsSameFile(Handle file, const char* path) = 0;
  /// The file's size in bytes; false when the platform cannot tell it.
  virtual bool GetSize(Handle file, uint64_t* size) = 0;
  /// Moves the file's position to `offset` bytes from its start.
  virtual bool Seek(Handle file, uint64_t offset) = 0;
  /// Reads exactly `size` bytes from the current position; false on failure or a short read.
  virtual bool ReadAll(Handle file, void* buffer, uint32_t size) = 0;
  /// Reads until `size` bytes have come or the input has ended, whichever is first, and stores how
  /// many came in `*got`: a pipe delivers what its writer has written so far, so a single read may
  /// bring less with more to come. False on failure; the end of the input is not one.
  virtual bool ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) = 0;
  /// Writes exactly `size` bytes at the current position; false on failure or a short write.
  virtual bool WriteAll(Handle file, const void* buffer, uint32_t size) = 0;
  virtual void Close(Handle file) = 0;
  /// A buffer for the whole file (or one piece of it), or null when it cannot be had.
  virtual void* AllocateBuffer(size_t size) = 0;
  virtual void ReleaseBuffer(void* buffer, size_t size) = 0;

  /// The largest file read whole into one buffer; anything larger is swapped in pieces.
  virtual uint64_t LargestWholeFile() = 0;
  /// How many bytes each ReadAll call takes when a whole file is read: the whole file where the
  /// platform reads it with one call, a few MiB where each piece is swapped while still in cache.
  virtual uint32_t WholeReadPieceBytes() = 0;
  /// The size of each piece of a file too large for memory: a few MiB.
  virtual uint32_t StreamPieceBytes() = 0;

 protected:
  ~FileLayer() = default;
};

/// The platform's own file layer.
FileLayer& SystemFileLayer();
