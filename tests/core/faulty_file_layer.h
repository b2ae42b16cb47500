// A file layer that passes every call to the platform's own and makes the faults happen that no
// real file can produce on demand: a failed or short read, a failed or short write, a failed flush
// or replace, a failed allocation, a size beyond 32 bits or one that changes between two looks. It
// can also make a small file count as too large to hold whole, with pieces of a few bytes, so that
// swapping in pieces is tested on small real files. It counts the files opened and still open, the
// calls made, the buffers still held and the largest buffer taken.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "file_layer.h"

struct Faults {
  bool failRead = false;
  bool shortRead = false;  ///< reads all but the last byte, then reports failure
  bool failWrite = false;
  bool shortWrite = false;  ///< writes the first half, then reports failure
  bool failAllocation = false;
  uint64_t reportedSize = 0;  ///< when non-zero, the size the input claims to have
  uint64_t laterSize = 0;     ///< when non-zero, the size every GetSize after the first reports
  bool failFlush = false;
  bool failReplace =
      false;  ///< fails as a rename would: the old file stays, the new one is removed
  /// When non-zero: read and write calls after this many succeeded ones fail, moving nothing.
  int readsBeforeFailure = 0;
  int writesBeforeFailure = 0;
  size_t largestAllocation = 0;   ///< when non-zero, any larger allocation fails
  uint64_t largestWholeFile = 0;  ///< when non-zero, replaces the platform's limit
  uint32_t pieceBytes = 0;        ///< when non-zero, the piece size of whole reads and of streaming
};

class FaultyFileLayer final : public FileLayer {
 public:
  explicit FaultyFileLayer(Faults faults) : faults_(faults) {}

  int opened = 0;
  int allocations = 0;
  int reads = 0;
  int writes = 0;
  int flushes = 0;
  int replaces = 0;
  int openNow = 0;     ///< files opened or created and not yet closed
  int buffersNow = 0;  ///< buffers taken and not yet released
  size_t largestAllocated = 0;

  Handle OpenInput(const char* path) override { return Opened(real_.OpenInput(path)); }
  Handle CreateOutput(const char* path) override { return Opened(real_.CreateOutput(path)); }
  Handle OpenInPlace(const char* path) override { return Opened(real_.OpenInPlace(path)); }
  bool IsSameFile(Handle file, const char* path) override { return real_.IsSameFile(file, path); }
  bool GetSize(Handle file, uint64_t* size) override {
    if (!real_.GetSize(file, size)) return false;
    if (faults_.reportedSize != 0) *size = faults_.reportedSize;
    if (faults_.laterSize != 0 && ++sizes_ > 1) *size = faults_.laterSize;
    return true;
  }
  bool ReadAll(Handle file, void* buffer, uint32_t size) override {
    ++reads;
    if (faults_.failRead) return false;
    if (faults_.readsBeforeFailure != 0 && reads > faults_.readsBeforeFailure) return false;
    if (faults_.shortRead) {
      real_.ReadAll(file, buffer, size - 1);
      return false;
    }
    return real_.ReadAll(file, buffer, size);
  }
  bool ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    ++reads;
    if (faults_.failRead) return false;
    return real_.ReadUpTo(file, buffer, size, got);
  }
  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    ++writes;
    if (faults_.failWrite) return false;
    if (faults_.writesBeforeFailure != 0 && writes > faults_.writesBeforeFailure) return false;
    if (faults_.shortWrite) {
      real_.WriteAll(file, buffer, size / 2);
      return false;
    }
    return real_.WriteAll(file, buffer, size);
  }
  void Close(Handle file) override {
    --openNow;
    real_.Close(file);
  }
  Handle CreateReplacement(const char* path, char* newPath) override {
    return Opened(real_.CreateReplacement(path, newPath));
  }
  bool Flush(Handle file) override {
    ++flushes;
    return !faults_.failFlush && real_.Flush(file);
  }
  bool Replace(const char* newPath, const char* path) override {
    ++replaces;
    if (!faults_.failReplace) return real_.Replace(newPath, path);
    real_.Remove(newPath);
    return false;
  }
  void Remove(const char* path) override { real_.Remove(path); }
  void* AllocateBuffer(size_t size) override {
    ++allocations;
    if (faults_.failAllocation) return nullptr;
    if (faults_.largestAllocation != 0 && size > faults_.largestAllocation) return nullptr;
    largestAllocated = std::max(largestAllocated, size);
    void* buffer = real_.AllocateBuffer(size);
    if (buffer) ++buffersNow;
    return buffer;
  }
  void ReleaseBuffer(void* buffer, size_t size) override {
    --buffersNow;
    real_.ReleaseBuffer(buffer, size);
  }
  uint64_t LargestWholeFile() override {
    return faults_.largestWholeFile != 0 ? faults_.largestWholeFile : real_.LargestWholeFile();
  }
  uint32_t WholeReadPieceBytes() override {
    return faults_.pieceBytes != 0 ? faults_.pieceBytes : real_.WholeReadPieceBytes();
  }
  uint32_t StreamPieceBytes() override {
    return faults_.pieceBytes != 0 ? faults_.pieceBytes : real_.StreamPieceBytes();
  }

 private:
  Handle Opened(Handle file) {
    ++opened;
    if (file != kNoFile) ++openNow;
    return file;
  }

  FileLayer& real_ = SystemFileLayer();
  Faults faults_;
  int sizes_ = 0;
};
