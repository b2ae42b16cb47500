#include "swap.h"

#include <cerrno>
#include <cstring>

#include "file_layer.h"

namespace {

// `bytes` rounded down to whole blocks, and at least one block: a piece never splits a block.
uint32_t WholeBlocks(uint32_t bytes, unsigned blockBytes) {
  const uint32_t rounded = bytes - bytes % blockBytes;
  return rounded != 0 ? rounded : blockBytes;
}

uint32_t PieceOf(uint64_t left, uint32_t piece) {
  return left < piece ? static_cast<uint32_t>(left) : piece;
}

SwapOutcome Failed(SwapStep step, SwapSide side, int error = 0) {
  SwapOutcome outcome;
  outcome.step = step;
  outcome.side = side;
  outcome.error = error < 0 ? 0 : error;  // the layer's own reasons are steps of their own
  return outcome;
}

// An open file, closed on every way out of the function that holds it.
class OpenFile {
 public:
  OpenFile(FileLayer& files, FileLayer::Handle file) : files_(files), file_(file) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { Close(); }
  FileLayer::Handle Get() const { return file_; }
  /// Takes a file opened later, for an OpenFile that holds none yet.
  void Own(FileLayer::Handle file) { file_ = file; }
  void Close() {
    if (file_ != FileLayer::kNoFile) files_.Close(file_);
    file_ = FileLayer::kNoFile;
  }

 private:
  FileLayer& files_;
  FileLayer::Handle file_;
};

// A buffer from the file layer, released on every way out of the function that holds it.
class Buffer {
 public:
  Buffer(FileLayer& files, size_t size)
      : files_(files),
        data_(static_cast<unsigned char*>(files.AllocateBuffer(size))),
        size_(size) {}
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (data_) files_.ReleaseBuffer(data_, size_);
  }
  unsigned char* Get() const { return data_; }

 private:
  FileLayer& files_;
  unsigned char* data_;
  size_t size_;
};

// Reads `size` bytes of `input` piece by piece and writes each, swapped, to `output`.
SwapOutcome SwapStreamed(FileLayer& files, FileLayer::Handle input, FileLayer::Handle output,
                         uint64_t size, unsigned char* buffer, uint32_t piece,
                         unsigned blockBytes) {
  for (uint64_t done = 0; done < size;) {
    const uint32_t bytes = PieceOf(size - done, piece);
    if (const int error = files.ReadAll(input, buffer, bytes))
      return Failed(SwapStep::kRead, SwapSide::kInput, error);
    SwapBlocks(buffer, bytes, blockBytes);
    if (const int error = files.WriteAll(output, buffer, bytes))
      return Failed(SwapStep::kWrite, SwapSide::kOutput, error);
    done += bytes;
  }
  return SwapOutcome{};
}

// The whole input read into one buffer, swapped piece by piece as each is read (still in cache),
// then the output, another file than the input, created and written with one call.
SwapOutcome SwapWhole(FileLayer& files, OpenFile& input, unsigned char* buffer, uint32_t size,
                      const char* outputPath, unsigned blockBytes) {
  const uint32_t piece = WholeBlocks(files.WholeReadPieceBytes(), blockBytes);
  for (uint32_t done = 0; done < size;) {
    const uint32_t bytes = PieceOf(size - done, piece);
    if (const int error = files.ReadAll(input.Get(), buffer + done, bytes))
      return Failed(SwapStep::kRead, SwapSide::kInput, error);
    SwapBlocks(buffer + done, bytes, blockBytes);
    done += bytes;
  }
  FileLayer::Handle created = FileLayer::kNoFile;
  if (const int error = files.CreateOutput(outputPath, &created))
    return Failed(SwapStep::kOpen, SwapSide::kOutput, error);
  OpenFile output(files, created);
  if (const int error = files.WriteAll(output.Get(), buffer, size))
    return Failed(SwapStep::kWrite, SwapSide::kOutput, error);
  return SwapOutcome{};
}

// One piece's buffer for a file of `size` bytes, so that memory use stays flat whatever the size.
uint32_t StreamPiece(FileLayer& files, uint64_t size, unsigned blockBytes) {
  return PieceOf(size, WholeBlocks(files.StreamPieceBytes(), blockBytes));
}

// A file too large to hold whole, going to another file: streamed into the created or truncated
// output through one buffer of a few MiB.
SwapOutcome SwapInPieces(FileLayer& files, OpenFile& input, uint64_t size, const char* outputPath,
                         unsigned blockBytes) {
  const uint32_t piece = StreamPiece(files, size, blockBytes);
  Buffer buffer(files, piece);
  if (!buffer.Get()) return Failed(SwapStep::kAllocate, SwapSide::kInput, ENOMEM);
  FileLayer::Handle created = FileLayer::kNoFile;
  if (const int error = files.CreateOutput(outputPath, &created))
    return Failed(SwapStep::kOpen, SwapSide::kOutput, error);
  OpenFile output(files, created);
  return SwapStreamed(files, input.Get(), output.Get(), size, buffer.Get(), piece, blockBytes);
}

SwapStep StepOfReplacementError(int error, SwapStep otherwise) {
  if (error == FileLayer::kManyNames) return SwapStep::kManyNames;
  if (error == FileLayer::kChanged) return SwapStep::kChanged;
  return otherwise;
}

// Streams the swapped input into the new file, gives it what the user set on `source` (the file it
// replaces, or the input for an output that did not exist) and, for a swap in place, flushes it:
// everything that comes before the replacement.
SwapOutcome WriteReplacement(FileLayer& files, FileLayer::Handle input, FileLayer::Handle source,
                             uint64_t size, unsigned blockBytes,
                             FileLayer::Replacement& replacement) {
  const uint32_t piece = StreamPiece(files, size, blockBytes);
  Buffer buffer(files, piece);
  if (!buffer.Get()) return Failed(SwapStep::kAllocate, SwapSide::kInput, ENOMEM);
  if (const int error = files.CreateReplacement(&replacement))
    return Failed(SwapStep::kCreateCopy, SwapSide::kOutput, error);
  const SwapOutcome streamed =
      SwapStreamed(files, input, replacement.file, size, buffer.Get(), piece, blockBytes);
  if (!streamed.Succeeded()) return streamed;
  if (const int error = files.KeepIdentity(source, &replacement))
    return Failed(SwapStep::kKeepIdentity, SwapSide::kOutput, error);
  if (replacement.durable) {
    if (const int error = files.Flush(replacement.file))
      return Failed(SwapStep::kWrite, SwapSide::kOutput, error);
  }
  return SwapOutcome{};
}

// A folder that takes no new file (no write permission, a read-only mount) may still hold an output
// that can be written: that one is written directly, as it always was.
bool IsFolderRefusal(const SwapOutcome& outcome) {
  return outcome.step == SwapStep::kCreateCopy &&
         (outcome.error == EACCES || outcome.error == EPERM || outcome.error == EROFS);
}

// Another file than the input, where the platform replaces outputs: the swapped input is streamed
// through one small buffer into a new file beside the output, which takes the output's name only
// once it is whole. A failure at any step leaves the output as it was (or absent) and nothing
// beside it, and memory stays at one piece whatever the size. An output that is not a regular file
// (a device, a pipe), or one that replacing would split or take from its owner, is written
// directly.
SwapOutcome SwapBeside(FileLayer& files, OpenFile& input, uint64_t size, const char* path,
                       unsigned blockBytes) {
  FileLayer::Replacement replacement;
  SwapOutcome outcome;
  if (const int error = files.FindForOutput(path, &replacement)) {
    outcome = Failed(SwapStep::kOpen, SwapSide::kOutput, error);
  } else if (replacement.target != FileLayer::Target::kDirect) {
    const bool existing = replacement.target == FileLayer::Target::kExistingOutput;
    const FileLayer::Handle source = existing ? replacement.original : input.Get();
    outcome = WriteReplacement(files, input.Get(), source, size, blockBytes, replacement);
    if (IsFolderRefusal(outcome) && existing) {
      replacement.target = FileLayer::Target::kDirect;
    } else if (outcome.step == SwapStep::kCreateCopy) {
      outcome.step = SwapStep::kOpen;  // to the user, the output could not be created
    } else if (outcome.Succeeded()) {
      if (const int error = files.Replace(&replacement))
        outcome =
            Failed(StepOfReplacementError(error, SwapStep::kReplace), SwapSide::kOutput, error);
    }
  }
  const bool direct = replacement.target == FileLayer::Target::kDirect;
  files.Abandon(&replacement);  // after a replacement, nothing is left to remove
  return direct ? SwapInPieces(files, input, size, path, blockBytes) : outcome;
}

// The output is the input file itself. The swapped contents are streamed into a new file beside
// it, in the folder found once at the start, flushed to the disk, and only then put in its place
// in one step: a failure, a kill or a power cut at any moment leaves the name naming either the
// original or the whole swapped file, and a failure removes the new file. A file that changed
// while it was read (someone else writing it, or its name moved to another file) is left as it is:
// replacing it would undo their work or land on a file nobody named. Memory stays at one piece
// whatever the size. The input is closed before the replacement, which a platform may refuse
// while the file is open.
SwapOutcome SwapInPlace(FileLayer& files, OpenFile& input, uint64_t size, const char* path,
                        unsigned blockBytes) {
  FileLayer::Replacement replacement;
  SwapOutcome outcome;
  if (const int error = files.FindForReplacement(input.Get(), path, size, &replacement)) {
    outcome = Failed(StepOfReplacementError(error, SwapStep::kOpen), SwapSide::kOutput, error);
  } else {
    outcome = WriteReplacement(files, input.Get(), input.Get(), size, blockBytes, replacement);
  }
  input.Close();
  if (outcome.Succeeded()) {
    if (const int error = files.Replace(&replacement))
      outcome = Failed(StepOfReplacementError(error, SwapStep::kReplace), SwapSide::kOutput, error);
  }
  files.Abandon(&replacement);  // after a replacement, nothing is left to remove
  return outcome;
}

SwapOutcome SwapChecked(FileLayer& files, OpenFile& input, const char* outputPath,
                        unsigned blockBytes) {
  uint64_t size = 0;
  if (const int error = files.GetSize(input.Get(), &size))
    return Failed(SwapStep::kRead, SwapSide::kInput, error);
  if (!IsSwappableSize(size, blockBytes)) {
    SwapOutcome refused = Failed(SwapStep::kSize, SwapSide::kInput);
    refused.length = size;
    return refused;
  }
  // The same file by identity, not by the spelling of its path: writing into a truncated "other"
  // file that is really the input would destroy it.
  SwapOutcome outcome;
  if (files.IsSameFile(input.Get(), outputPath)) {
    outcome = SwapInPlace(files, input, size, outputPath, blockBytes);
  } else if (files.ReplacesOutputs()) {
    outcome = SwapBeside(files, input, size, outputPath, blockBytes);
  } else if (size <= files.LargestWholeFile()) {
    Buffer whole(files, static_cast<size_t>(size));
    outcome = whole.Get() ? SwapWhole(files, input, whole.Get(), static_cast<uint32_t>(size),
                                      outputPath, blockBytes)
                          : SwapInPieces(files, input, size, outputPath, blockBytes);
  } else {
    outcome = SwapInPieces(files, input, size, outputPath, blockBytes);
  }
  outcome.length = size;
  return outcome;
}

}  // namespace

SwapOutcome SwapOpenFile(FileLayer& files, FileLayer::Handle input, const char* outputPath,
                         unsigned dataSizeBits) {
  OpenFile opened(files, input);
  if (!outputPath || !IsValidDataSize(dataSizeBits))
    return Failed(SwapStep::kArguments, SwapSide::kOutput);
  return SwapChecked(files, opened, outputPath, dataSizeBits / 8);
}

SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     unsigned dataSizeBits) {
  if (!inputPath || !outputPath || !IsValidDataSize(dataSizeBits))
    return Failed(SwapStep::kArguments, SwapSide::kInput);
  FileLayer::Handle input = FileLayer::kNoFile;
  if (const int error = files.OpenInput(inputPath, &input))
    return Failed(SwapStep::kOpen, SwapSide::kInput, error);
  return SwapOpenFile(files, input, outputPath, dataSizeBits);
}

SwapOutcome SwapStream(FileLayer& files, FileLayer::Handle input, StreamOutput output,
                       unsigned dataSizeBits) {
  if (!IsValidDataSize(dataSizeBits)) return Failed(SwapStep::kArguments, SwapSide::kInput);
  const unsigned blockBytes = dataSizeBits / 8;
  const uint32_t piece = WholeBlocks(files.StreamPieceBytes(), blockBytes);
  Buffer buffer(files, piece);
  if (!buffer.Get()) return Failed(SwapStep::kAllocate, SwapSide::kInput, ENOMEM);
  OpenFile createdOutput(files, FileLayer::kNoFile);

  // Every piece but the last is full, and so whole blocks; a remainder can only end the input.
  uint64_t length = 0;
  SwapOutcome outcome;
  for (uint32_t got = piece; outcome.Succeeded() && got == piece;) {
    if (const int error = files.ReadUpTo(input, buffer.Get(), piece, &got)) {
      outcome = Failed(SwapStep::kRead, SwapSide::kInput, error);
      break;
    }
    length += got;
    const uint32_t whole = got - got % blockBytes;
    if (whole == 0) break;
    if (output.file == FileLayer::kNoFile) {
      if (const int error = files.CreateOutput(output.path, &output.file)) {
        outcome = Failed(SwapStep::kOpen, SwapSide::kOutput, error);
        break;
      }
      createdOutput.Own(output.file);
    }
    SwapBlocks(buffer.Get(), whole, blockBytes);
    if (const int error = files.WriteAll(output.file, buffer.Get(), whole))
      outcome = Failed(SwapStep::kWrite, SwapSide::kOutput, error);
  }
  if (outcome.Succeeded() && !IsSwappableSize(length, blockBytes))
    outcome = Failed(SwapStep::kSize, SwapSide::kInput);
  outcome.length = length;
  return outcome;
}

bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits) {
  return SwapFile(files, inputPath, outputPath, dataSizeBits).Succeeded();
}

bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits) {
  return SwapFileByteOrder(SystemFileLayer(), inputPath, outputPath, dataSizeBits);
}
