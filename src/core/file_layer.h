// The file operations the swap needs, behind one small interface: a Win32 and a POSIX implementation
// serve the program, and tests can wrap either to make a fault happen that nothing real can produce
// (a short read, a short write, a failed allocation).
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
  /// The file's size in bytes; false when the platform cannot tell it.
  virtual bool GetSize(Handle file, uint64_t* size) = 0;
  /// Reads exactly `size` bytes from the current position; false on failure or a short read.
  virtual bool ReadAll(Handle file, void* buffer, uint32_t size) = 0;
  /// Writes exactly `size` bytes at the current position; false on failure or a short write.
  virtual bool WriteAll(Handle file, const void* buffer, uint32_t size) = 0;
  virtual void Close(Handle file) = 0;
  /// A buffer for the whole file, or null when it cannot be had.
  virtual void* AllocateBuffer(size_t size) = 0;
  virtual void ReleaseBuffer(void* buffer, size_t size) = 0;

 protected:
  ~FileLayer() = default;
};

/// The platform's own file layer.
FileLayer& SystemFileLayer();
