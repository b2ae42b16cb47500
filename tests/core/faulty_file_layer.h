// A file layer that passes every call to the platform's own and makes the faults happen that no
// real file can produce on demand: a failed or short read, a failed or short write, a failed
// allocation, a size beyond 32 bits. It can also make a small file count as too large to hold
// whole, with pieces of a few bytes, so that swapping in pieces is tested on small real files. It
// counts the files opened, the calls made and the largest buffer taken.
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
  size_t largestAllocated = 0;

  Handle OpenInput(const char* path) override {
    ++opened;
    return real_.OpenInput(path);
  }
  Handle CreateOutput(const char* path) override {
    ++opened;
    return real_.CreateOutput(path);
  }
  Handle OpenInPlace(const char* path) override {
    ++opened;
    return real_.OpenInPlace(path);
  }
  bool IsSameFile(Handle file, const char* path) override { return real_.IsSameFile(file, path); }
  bool GetSize(Handle file, uint64_t* size) override {
    if (!real_.GetSize(file, size)) return false;
    if (faults_.reportedSize != 0) *size = faults_.reportedSize;
    return true;
  }
  bool Seek(Handle file, uint64_t offset) override { return real_.Seek(file, offset); }
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
  void Close(Handle file) override { real_.Close(file); }
  void* AllocateBuffer(size_t size) override {
    ++allocations;
    if (faults_.failAllocation) return nullptr;
    if (faults_.largestAllocation != 0 && size > faults_.largestAllocation) return nullptr;
    largestAllocated = std::max(largestAllocated, size);
    return real_.AllocateBuffer(size);
  }
  void ReleaseBuffer(void* buffer, size_t size) override { real_.ReleaseBuffer(buffer, size); }
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
  FileLayer& real_ = SystemFileLayer();
  Faults faults_;
};
