// The file operations the swap needs, behind one small interface: a Win32 and a POSIX
// implementation serve the program, and tests can wrap either to make a fault happen that nothing
// real can produce (a short read, a short write, a failed flush or replace, a failed allocation) or
// to make a file count as large.
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
  /// writing. A swap in place opens its file so only to learn that the file may be written: it is
  /// replaced, never written through this handle.
  virtual Handle OpenInPlace(const char* path) = 0;
  /// True when `path` names the very file open as `file` (the same volume and file index, or device
  /// and inode), whatever the spelling of the path or the links leading to it. False when `path`
  /// names no existing file.
  virtual bool IsSameFile(Handle file, const char* path) = 0;
  /// The file's size in bytes; false when the platform cannot tell it.
  virtual bool GetSize(Handle file, uint64_t* size) = 0;
  /// Reads exactly `size` bytes from the current position; false on failure or a short read.
  virtual bool ReadAll(Handle file, void* buffer, uint32_t size) = 0;
  /// Reads until `size` bytes have come or the input has ended, whichever is first, and stores how
  /// many came in `*got`: a pipe delivers what its writer has written so far, so a single read may
  /// bring less with more to come. False on failure; the end of the input is not one.
  virtual bool ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) = 0;
  /// Writes exactly `size` bytes at the current position; false on failure or a short write.
  virtual bool WriteAll(Handle file, const void* buffer, uint32_t size) = 0;
  virtual void Close(Handle file) = 0;

  /// The room CreateReplacement needs for the path it writes.
  static constexpr size_t kLongestPath = 4096 + 64;
  /// Creates a new, empty file beside the one `path` names, to be written and then put in its
  /// place: in the folder of the file itself (of its final target when `path` is a symbolic link),
  /// exclusively, under a name no file has yet and a user recognises as Orvane's
  /// ("orvane-....tmp"), with the permissions, owner and attributes of the file it is to replace
  /// where the platform lets them be set. Writes its path, NUL-terminated, to `newPath`. Fails when
  /// the file has more than one name (hard links), since replacing it would split them.
  virtual Handle CreateReplacement(const char* path, char* newPath) = 0;
  /// Writes what was written to `file` through to the disk.
  virtual bool Flush(Handle file) = 0;
  /// Puts the closed file at `newPath` in the place of the file `path` names (of its final target
  /// when `path` is a symbolic link), in one step: `path` names either the old file or the new one
  /// at every moment. On failure the old file stays and the new one is removed.
  virtual bool Replace(const char* newPath, const char* path) = 0;
  /// Deletes the file, to remove a replacement that will not be used.
  virtual void Remove(const char* path) = 0;
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
