// The swap: check, open the input, open its output, one loop over the pieces, commit. Where and
// how the output is written is the file layer's choice; the loop is the same for a file read whole,
// a file read in pieces and a stream.
#include "swap.h"

#include <cstring>

#include "file_layer.h"

namespace {

SwapOutcome Ended(FileError error, uint64_t length) {
  SwapOutcome outcome;
  outcome.error = error;
  outcome.length = length;
  return outcome;
}

// `bytes` rounded down to whole blocks, and at least one block: a piece never splits a block.
uint32_t WholeBlocks(uint32_t bytes, unsigned blockBytes) {
  const uint32_t rounded = bytes - bytes % blockBytes;
  return rounded != 0 ? rounded : blockBytes;
}

// A buffer from the file layer, released on every way out of the function that holds it.
class Buffer {
 public:
  Buffer(FileLayer& files, size_t size)
      : files_(files), data_(static_cast<unsigned char*>(files.Allocate(size))), size_(size) {}
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (data_) files_.Release(data_);
  }
  unsigned char* Get() const { return data_; }
  uint32_t Size() const { return static_cast<uint32_t>(size_); }
  /// Takes a buffer of `size` bytes instead, where this one could not be had.
  void TryInstead(size_t size) {
    if (data_) return;
    data_ = static_cast<unsigned char*>(files_.Allocate(size));
    size_ = size;
  }

 private:
  FileLayer& files_;
  unsigned char* data_;
  size_t size_;
};

// A file that its output takes whole gets one buffer of its size when it can be had; anything
// else, or a file whose buffer cannot be had, a piece's buffer of whole blocks.
uint32_t PieceSize(FileLayer& files, const InputFile& input, const OutputFile& output,
                   unsigned blockBytes) {
  const uint32_t piece = WholeBlocks(files.PieceBytes(), blockBytes);
  if (!input.IsFile()) return piece;
  return input.Size() <= output.LargestWholeWrite() || input.Size() < piece
             ? static_cast<uint32_t>(input.Size())
             : piece;
}

// A buffer read whole (Windows) is far larger than the processor's cache: read in parts that fit in
// it, each swapped right after its read while its bytes are still there, it is gone over once in
// memory rather than twice. A part is whole blocks and whole pages, at least a piece of the native
// layer, which it then reads with one call as before.
uint32_t CachedPart(unsigned blockBytes) {
  constexpr uint32_t kPage = 4096;
  constexpr uint32_t kCache = uint32_t{256} << 10;
  uint32_t unit = kPage;
  while (unit % blockBytes != 0) unit += kPage;
  return (kCache + unit - 1) / unit * unit;
}

// Reads `wanted` bytes into `buffer` part by part, reversing the whole blocks of each part where
// `swap` says so; `got` is what came, fewer than wanted only at the input's end.
FileError ReadSwapped(FileLayer& files, const InputFile& input, unsigned char* buffer,
                      uint32_t wanted, unsigned blockBytes, bool swap, uint32_t* got) {
  const uint32_t part = CachedPart(blockBytes);
  for (*got = 0; *got < wanted;) {
    const uint32_t asked = wanted - *got < part ? wanted - *got : part;
    uint32_t came = 0;
    if (const FileError error = files.Read(input, buffer + *got, asked, &came); error.Failed())
      return error;
    if (swap) SwapBlocks(buffer + *got, came - came % blockBytes, blockBytes);
    *got += came;
    if (came < asked) break;
  }
  return FileError{};
}

SwapOutcome SizeRefusal(uint64_t length) {
  return Ended(Failure(FileStep::kSize, FileSide::kInput), length);
}

SwapOutcome DataSizeRefusal() { return Ended(Failure(FileStep::kArguments, FileSide::kInput), 0); }

// Where the range ends, at most the largest offset there is.
uint64_t RangeEnd(const SwapRange& range) {
  if (range.toEnd || range.length > UINT64_MAX - range.offset) return UINT64_MAX;
  return range.offset + range.length;
}

// `at` moved down to the start of the block it is in, where it is in the range: a stretch of data
// may begin inside a block (a 3-byte one, or a range at an odd offset).
uint64_t BlockStart(uint64_t at, const SwapRange& range, uint64_t end, unsigned blockBytes) {
  if (at <= range.offset || at >= end) return at;
  return at - (at - range.offset) % blockBytes;
}

// `at` moved up to the end of the block it is in, where it is in the range.
uint64_t BlockEnd(uint64_t at, const SwapRange& range, uint64_t end, unsigned blockBytes) {
  if (at <= range.offset || at >= end) return at;
  const uint64_t into = (at - range.offset) % blockBytes;
  return into == 0 ? at : at + (blockBytes - into);
}

}  // namespace

bool IsSwappableRange(uint64_t size, const SwapRange& range, unsigned blockBytes) {
  if (range.offset > size) return false;
  const uint64_t after = size - range.offset;
  if (!range.toEnd && range.length > after) return false;
  return IsSwappableSize(range.toEnd ? after : range.length, blockBytes);
}

SwapOutcome CheckInput(const InputFile& input, unsigned dataSizeBits, const SwapOptions& options) {
  if (!IsValidDataSize(dataSizeBits)) return DataSizeRefusal();
  if (input.IsRegular() && !IsSwappableRange(input.Size(), options.range, dataSizeBits / 8))
    return SizeRefusal(input.Size());
  return SwapOutcome();
}

SwapOutcome SwapInto(FileLayer& files, InputFile& input, OutputFile& output, unsigned dataSizeBits,
                     const SwapOptions& options) {
  if (const SwapOutcome refused = CheckInput(input, dataSizeBits, options); !refused.Succeeded())
    return refused;
  const unsigned blockBytes = dataSizeBits / 8;
  const SwapRange& range = options.range;
  Buffer buffer(files, PieceSize(files, input, output, blockBytes));
  buffer.TryInstead(WholeBlocks(files.PieceBytes(), blockBytes));
  if (!buffer.Get()) return Ended(OutOfMemory(FileSide::kInput), 0);

  // A piece ends at the next end of the range ahead of it, so that it lies wholly inside or
  // outside the range. Inside, every piece but the range's last is full, and so whole blocks; a
  // remainder can only end a stream. A file's holes read as zeros, which every swap leaves as
  // zeros: where the output can keep them, they are passed over, and a piece ends where its
  // stretch of data does, both widened to whole blocks.
  const uint64_t end = RangeEnd(range);
  uint64_t length = 0;
  bool holes = input.IsFile();
  for (bool ended = false; !ended;) {
    uint64_t dataEnd = UINT64_MAX;
    if (holes) {
      uint64_t dataStart = length;
      if (const FileError error = files.FindData(input, length, &dataStart, &dataEnd);
          error.Failed())
        return Ended(error, length);
      const uint64_t start = BlockStart(dataStart, range, end, blockBytes);
      dataEnd = BlockEnd(dataEnd, range, end, blockBytes);
      if (start > length && !output.SkipHole(start - length)) {
        holes = false;
        dataEnd = UINT64_MAX;
      } else if (start > length) {
        if (const FileError error = files.SkipTo(input, start); error.Failed())
          return Ended(error, length);
        length = start;
      }
    }
    const uint64_t left = input.IsFile() ? input.Size() - length : buffer.Size();
    uint64_t limit = left < buffer.Size() ? left : buffer.Size();
    const uint64_t boundary = length < range.offset ? range.offset : end;
    if (boundary > length && boundary - length < limit) limit = boundary - length;
    if (dataEnd > length && dataEnd - length < limit) limit = dataEnd - length;
    const uint32_t wanted = static_cast<uint32_t>(limit);
    if (wanted == 0) break;
    const bool inside = length >= range.offset && length < end;
    uint32_t got = 0;
    if (const FileError error =
            ReadSwapped(files, input, buffer.Get(), wanted, blockBytes, inside, &got);
        error.Failed())
      return Ended(error, length);
    length += got;
    ended = got < wanted;
    if (ended && input.IsFile())
      return Ended(Failure(FileStep::kRead, FileSide::kInput, FileReason::kShortTransfer), length);
    const uint32_t kept = inside ? got - got % blockBytes : got;
    if (kept == 0) break;
    if (const FileError error = output.Write(buffer.Get(), kept); error.Failed())
      return Ended(error, length);
    if (options.progress)
      options.progress(options.context, length, input.IsFile() ? input.Size() : 0);
  }
  if (!IsSwappableRange(length, range, blockBytes)) return SizeRefusal(length);
  return Ended(output.Commit(), length);
}

SwapOutcome SwapOpenInput(FileLayer& files, InputFile& input, ResolvedPath* outputPath,
                          unsigned dataSizeBits, const SwapOptions& options) {
  if (const SwapOutcome refused = CheckInput(input, dataSizeBits, options); !refused.Succeeded())
    return refused;
  if (!outputPath) return Ended(OutOfMemory(FileSide::kOutput), 0);
  OwnedOutput output;
  if (const FileError error = files.OpenOutput(input, *outputPath, &output); error.Failed())
    return Ended(error, input.Size());
  return SwapInto(files, input, *output, dataSizeBits, options);
}

SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     unsigned dataSizeBits, const SwapOptions& options) {
  if (!inputPath || !outputPath || !IsValidDataSize(dataSizeBits)) return DataSizeRefusal();
  InputFile input;
  if (const FileError error = files.OpenInput(inputPath, &input); error.Failed())
    return Ended(error, 0);
  const OwnedPath output = files.Resolve(outputPath, nullptr);
  return SwapOpenInput(files, input, output.get(), dataSizeBits, options);
}

bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits) {
  return SwapFile(files, inputPath, outputPath, dataSizeBits).Succeeded();
}

bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits) {
  return SwapFileByteOrder(SystemFileLayer(), inputPath, outputPath, dataSizeBits);
}
