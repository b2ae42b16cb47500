// A file layer that passes every call to the platform's own and makes the faults happen that no
// real file can produce on demand: a failed or short read, a failed or short write, a failed
// allocation, a staged file that cannot be created, a commit that fails at a given step, another
// process's doing just before the commit. It can also make the pieces a few bytes long, so that
// the piece loop is tested on small real files. It counts the calls made, the files and buffers
// still held, the largest buffer taken and the transfers through a buffer not page-aligned.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "file_layer.h"

struct Faults {
  bool failRead = false;
  bool shortRead = false;  ///< the file ends one byte early
  bool failWrite = false;
  bool shortWrite = false;  ///< writes the first half, then reports failure
  bool failAllocation = false;
  /// When non-zero: read and write calls after this many succeeded ones fail, moving nothing.
  int readsBeforeFailure = 0;
  int writesBeforeFailure = 0;
  size_t largestAllocation = 0;    ///< when non-zero, any larger allocation fails
  uint32_t pieceBytes = 0;         ///< when non-zero, the piece size
  uint64_t largestWholeWrite = 0;  ///< when non-zero, the largest file read and written whole
  bool failCreateStaged = false;
  /// The step at which a commit fails, before the real one (kCopyMetadata; a flush or a rename that
  /// fails is made to fail in the real commit instead). The staged file is left for the product to
  /// remove.
  FileStep failCommitAt = FileStep::kNone;
  /// Called just before the commit: another process's doing while the swap ran.
  std::function<void()> beforeCommit;
};

/// Whether the platform writes another file to a staged file beside it rather than directly.
#ifdef _WIN32
constexpr bool kStagesOutputs = false;
#else
constexpr bool kStagesOutputs = true;
#endif

class FaultyFileLayer final : public FileLayer {
 public:
  explicit FaultyFileLayer(Faults faults) : faults_(std::move(faults)) {}

  int opened = 0;
  int allocations = 0;
  int reads = 0;
  int writes = 0;
  int commits = 0;
  int openNow = 0;     ///< inputs and outputs opened and not yet closed
  int buffersNow = 0;  ///< buffers taken and not yet released
  size_t largestAllocated = 0;
  int misaligned = 0;  ///< reads into and writes from a buffer that does not start a page

  FileError OpenInput(const ResolvedPath& path, InputFile* input) override {
    ++opened;
    InputFile real;
    const FileError error = real_.OpenInput(path, &real);
    if (error.Failed()) return error;
    ++openNow;
    const InputFile::Kind kind = real.IsFile() ? InputFile::Kind::kFile : InputFile::Kind::kStream;
    *input = InputFile(this, real.Release(), kind, real.IsRegular(), real.Size());
    return error;
  }
  FileError Read(const InputFile& input, void* buffer, uint32_t size, uint32_t* got) override {
    ++reads;
    misaligned += !IsPageAligned(buffer);
    if (faults_.failRead || (faults_.readsBeforeFailure != 0 && reads > faults_.readsBeforeFailure))
      return Fake(FileStep::kRead, FileSide::kInput);
    return real_.Read(input, buffer, faults_.shortRead ? size - 1 : size, got);
  }
  void Close(InputFile::Handle file) override {
    --openNow;
    real_.Close(file);
  }
  OwnedPath Resolve(const char* path, const ResolvedPath* folder) override {
    return real_.Resolve(path, folder);
  }
  FileError OpenOutput(InputFile& input, ResolvedPath& path, OwnedOutput* output) override {
    if (faults_.failCreateStaged) return Fake(FileStep::kCreateStaged, FileSide::kOutput);
    OwnedOutput real;
    const FileError error = real_.OpenOutput(input, path, &real);
    if (error.Failed()) return error;
    *output = MakeOutput<Output>(*this, std::move(real));
    return error;
  }
  void* Allocate(size_t size) override {
    ++allocations;
    if (faults_.failAllocation) return nullptr;
    if (faults_.largestAllocation != 0 && size > faults_.largestAllocation) return nullptr;
    largestAllocated = std::max(largestAllocated, size);
    void* buffer = real_.Allocate(size);
    if (buffer) ++buffersNow;
    return buffer;
  }
  void Release(void* buffer) override {
    --buffersNow;
    real_.Release(buffer);
  }
  uint32_t PieceBytes() override {
    return faults_.pieceBytes != 0 ? faults_.pieceBytes : real_.PieceBytes();
  }

 private:
  static bool IsPageAligned(const void* buffer) {
    return reinterpret_cast<uintptr_t>(buffer) % 4096 == 0;
  }

  // What the platform reports for a failed call that the fake makes up: code 5 is EIO here,
  // ERROR_ACCESS_DENIED on Windows.
  static FileError Fake(FileStep step, FileSide side) {
    return Failure(step, side, FileReason::kSystem, 5);
  }

  class Output final : public OutputFile {
   public:
    Output(FaultyFileLayer& files, OwnedOutput real) : files_(files), real_(std::move(real)) {
      ++files_.openNow;
    }
    ~Output() override { --files_.openNow; }
    FileError Write(const void* data, uint32_t size) override {
      const Faults& faults = files_.faults_;
      const int writes = ++files_.writes;
      files_.misaligned += !IsPageAligned(data);
      if (faults.failWrite ||
          (faults.writesBeforeFailure != 0 && writes > faults.writesBeforeFailure)) {
        // As a write call that fails: the output is there, nothing moved; the fault is the result.
        static_cast<void>(real_->Write(data, 0));
        return Fake(FileStep::kWrite, FileSide::kOutput);
      }
      if (!faults.shortWrite) return real_->Write(data, size);
      if (const FileError error = real_->Write(data, size / 2); error.Failed()) return error;
      return Failure(FileStep::kWrite, FileSide::kOutput, FileReason::kShortTransfer);
    }
    uint64_t LargestWholeWrite() const override {
      const uint64_t largest = files_.faults_.largestWholeWrite;
      return largest != 0 ? largest : real_->LargestWholeWrite();
    }
    FileError Commit() override {
      ++files_.commits;
      if (files_.faults_.beforeCommit) files_.faults_.beforeCommit();
      const FileStep step = files_.faults_.failCommitAt;
      return step != FileStep::kNone ? Fake(step, FileSide::kOutput) : real_->Commit();
    }

   private:
    FaultyFileLayer& files_;
    OwnedOutput real_;
  };

  FileLayer& real_ = SystemFileLayer();
  Faults faults_;
};
