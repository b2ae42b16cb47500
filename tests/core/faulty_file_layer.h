// A file layer that passes every call to the platform's own and makes the faults happen that no
// real file can produce on demand: a failed or short read, a failed or short write, a failed flush
// or replace, a failed allocation, a size beyond 32 bits, another process's doing just before a
// replacement. It can also make a small file count as too large to hold whole, with pieces of a few
// bytes, so that swapping in pieces is tested on small real files. It counts the files opened and
// still open, the calls made, the buffers still held and the largest buffer taken.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "file_layer.h"

struct Faults {
  bool failRead = false;
  bool shortRead = false;  ///< reads all but the last byte, then reports failure
  bool failWrite = false;
  bool shortWrite = false;  ///< writes the first half, then reports failure
  bool failAllocation = false;
  uint64_t reportedSize = 0;  ///< when non-zero, the size the input claims to have
  bool failCreateReplacement = false;
  bool failKeepIdentity = false;
  bool failFlush = false;
  /// Fails as a refused rename would, before the real one: the new file is left for the product.
  bool failReplace = false;
  /// When non-zero: read and write calls after this many succeeded ones fail, moving nothing.
  int readsBeforeFailure = 0;
  int writesBeforeFailure = 0;
  size_t largestAllocation = 0;   ///< when non-zero, any larger allocation fails
  uint64_t largestWholeFile = 0;  ///< when non-zero, replaces the platform's limit
  uint32_t pieceBytes = 0;        ///< when non-zero, the piece size of whole reads and of streaming
  /// Writes another file directly, read whole first where it fits, as Windows does, where the
  /// platform would write a new file beside it and rename it.
  bool writeOutputsDirectly = false;
  /// Called just before the replacement: another process's doing while the swap ran.
  std::function<void()> beforeReplace;
};

// What the platform reports for a failed call that the fake makes up.
#ifdef _WIN32
constexpr int kFakeError = 5;  // ERROR_ACCESS_DENIED
#else
constexpr int kFakeError = 5;  // EIO
#endif

class FaultyFileLayer final : public FileLayer {
 public:
  explicit FaultyFileLayer(Faults faults) : faults_(std::move(faults)) {}

  int opened = 0;
  int allocations = 0;
  int reads = 0;
  int writes = 0;
  int flushes = 0;
  int replaces = 0;
  int openNow = 0;     ///< files opened or created and not yet closed
  int buffersNow = 0;  ///< buffers taken and not yet released
  size_t largestAllocated = 0;

  Error OpenInput(const char* path, Handle* file) override {
    return Opened(real_.OpenInput(path, file));
  }
  Error CreateOutput(const char* path, Handle* file) override {
    return Opened(real_.CreateOutput(path, file));
  }
  bool IsSameFile(Handle file, const char* path) override { return real_.IsSameFile(file, path); }
  Error GetSize(Handle file, uint64_t* size) override {
    if (const Error error = real_.GetSize(file, size)) return error;
    if (faults_.reportedSize != 0) *size = faults_.reportedSize;
    return kOk;
  }
  Error ReadAll(Handle file, void* buffer, uint32_t size) override {
    ++reads;
    if (faults_.failRead) return kFakeError;
    if (faults_.readsBeforeFailure != 0 && reads > faults_.readsBeforeFailure) return kFakeError;
    if (faults_.shortRead) {
      real_.ReadAll(file, buffer, size - 1);
      return kShortTransfer;
    }
    return real_.ReadAll(file, buffer, size);
  }
  Error ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    ++reads;
    if (faults_.failRead) return kFakeError;
    return real_.ReadUpTo(file, buffer, size, got);
  }
  Error WriteAll(Handle file, const void* buffer, uint32_t size) override {
    ++writes;
    if (faults_.failWrite) return kFakeError;
    if (faults_.writesBeforeFailure != 0 && writes > faults_.writesBeforeFailure) return kFakeError;
    if (faults_.shortWrite) {
      real_.WriteAll(file, buffer, size / 2);
      return kShortTransfer;
    }
    return real_.WriteAll(file, buffer, size);
  }
  void Close(Handle file) override {
    --openNow;
    real_.Close(file);
  }
  Error FindForReplacement(Handle file, const char* path, uint64_t size,
                           Replacement* replacement) override {
    return real_.FindForReplacement(file, path, size, replacement);
  }
  bool ReplacesOutputs() override {
    return !faults_.writeOutputsDirectly && real_.ReplacesOutputs();
  }
  Error FindForOutput(const char* path, Replacement* replacement) override {
    return real_.FindForOutput(path, replacement);
  }
  Error CreateReplacement(Replacement* replacement) override {
    if (faults_.failCreateReplacement) return kFakeError;
    return real_.CreateReplacement(replacement);
  }
  Error KeepIdentity(Handle file, Replacement* replacement) override {
    if (faults_.failKeepIdentity) return kFakeError;
    return real_.KeepIdentity(file, replacement);
  }
  Error Flush(Handle file) override {
    ++flushes;
    return faults_.failFlush ? kFakeError : real_.Flush(file);
  }
  Error Replace(Replacement* replacement) override {
    ++replaces;
    if (faults_.beforeReplace) faults_.beforeReplace();
    return faults_.failReplace ? kFakeError : real_.Replace(replacement);
  }
  void Abandon(Replacement* replacement) override { real_.Abandon(replacement); }
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
  Error Opened(Error error) {
    ++opened;
    if (error == kOk) ++openNow;
    return error;
  }

  FileLayer& real_ = SystemFileLayer();
  Faults faults_;
};
