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

// `bytes` rounded down to whole units, and at least one unit: a piece never splits a unit.
uint32_t WholeUnits(uint32_t bytes, uint32_t unitBytes) {
  const uint32_t rounded = bytes - bytes % unitBytes;
  return rounded != 0 ? rounded : unitBytes;
}

// A buffer from the file layer, released on every way out of the function that holds it; none
// where no bytes are asked for.
class Buffer {
 public:
  Buffer(FileLayer& files, size_t size)
      : files_(files),
        data_(size ? static_cast<unsigned char*>(files.Allocate(size)) : nullptr),
        size_(size) {}
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
// else, or a file whose buffer cannot be had, a piece's buffer of whole units.
uint32_t PieceSize(FileLayer& files, const InputFile& input, const OutputFile& output,
                   uint32_t unitBytes) {
  const uint32_t piece = WholeUnits(files.PieceBytes(), unitBytes);
  if (!input.IsFile()) return piece;
  return input.Size() <= output.LargestWholeWrite() || input.Size() < piece
             ? static_cast<uint32_t>(input.Size())
             : piece;
}

// The largest unit a piece of the layout must hold whole, and whether a segment transforms into
// another buffer.
uint32_t LargestUnit(const SwapLayout& layout) {
  uint32_t largest = 1;
  for (size_t i = 0; i < layout.count; ++i) {
    if (layout.segments[i].UnitBytes() > largest) largest = layout.segments[i].UnitBytes();
  }
  return largest;
}
bool TransformsIntoAnother(const SwapLayout& layout) {
  for (size_t i = 0; i < layout.count; ++i) {
    if (!layout.segments[i].reverseBytes && layout.segments[i].transform) return true;
  }
  return false;
}

bool IsRefusedSize(const InputFile& input, const SwapRange& range, const SwapLayout& layout) {
  return input.IsRegular() && !IsSwappableRange(input.Size(), range, layout);
}

SwapOutcome SizeRefusal(uint64_t length) {
  return Ended(Failure(FileStep::kSize, FileSide::kInput), length);
}

SwapOutcome ArgumentsRefusal() { return Ended(Failure(FileStep::kArguments, FileSide::kInput), 0); }

// How long the range is, where that is known before it is read: a file's, read as its size, or a
// range given its length. A stream's, even from a regular file, comes only with its end.
bool KnownRangeLength(const InputFile& input, const SwapRange& range, uint64_t* length) {
  if (!range.toEnd) {
    *length = range.length;
    return true;
  }
  if (!input.IsFile()) return false;
  *length = input.Size() > range.offset ? input.Size() - range.offset : 0;
  return true;
}

// A stream to its end, whose length comes only with its end, cannot place the segments after the
// one that fills.
bool IsLengthNeeded(const InputFile& input, const SwapRange& range, const SwapLayout& layout) {
  uint64_t length;
  return layout.span.afterFillBytes != 0 && !KnownRangeLength(input, range, &length);
}

SwapOutcome LengthRefusal() {
  return Ended(Failure(FileStep::kSize, FileSide::kInput, FileReason::kLengthNeeded), 0);
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Where the range ends, where that is known before it is read (IsLengthNeeded refuses a layout
// that needs it where it is not); otherwise the largest offset there is.
uint64_t RangeEnd(const InputFile& input, const SwapRange& range) {
  if (!range.toEnd) return SaturatingAdd(range.offset, range.length);
  return input.IsFile() ? input.Size() : UINT64_MAX;
}

// The segment each position of the range falls in, the positions taken in increasing order. The
// filling segment reaches the range's end, or, where segments follow it, ends where they must
// begin, counted back from the range's end, known before it is read.
class SegmentCursor {
 public:
  SegmentCursor(const SwapLayout& layout, uint64_t start, uint64_t rangeEnd)
      : layout_(layout), rangeEnd_(rangeEnd), start_(start), end_(EndOf(0, start)) {}

  /// The segment `position` falls in, and where it ends; null past the last one.
  const SwapSegment* At(uint64_t position, uint64_t* end) {
    while (index_ < layout_.count && position >= end_) {
      start_ = end_;
      if (++index_ < layout_.count) end_ = EndOf(index_, end_);
    }
    *end = end_;
    return index_ < layout_.count ? &layout_.segments[index_] : nullptr;
  }
  /// Where the segment At last gave starts.
  uint64_t Start() const { return start_; }

 private:
  uint64_t EndOf(size_t index, uint64_t start) const {
    const SwapSegment& segment = layout_.segments[index];
    if (segment.groups != SwapSegment::kFill)
      return SaturatingAdd(start, segment.groups * segment.groupBytes);
    const uint64_t after = layout_.span.afterFillBytes;
    if (after == 0) return UINT64_MAX;
    return rangeEnd_ < start || rangeEnd_ - start < after ? start : rangeEnd_ - after;
  }

  const SwapLayout& layout_;
  uint64_t rangeEnd_;
  size_t index_ = 0;
  uint64_t start_;
  uint64_t end_;
};

// `at` moved to the start (`up`: the end) of the unit of the layout it falls in, where it is in the
// range: a stretch of data may begin or end inside a block (a 3-byte one, a range at an odd
// offset) or a group, whose bytes a swap moves across the stretch's edge.
uint64_t UnitEdge(const SwapLayout& layout, uint64_t at, uint64_t rangeStart, uint64_t rangeEnd,
                  bool up) {
  if (at <= rangeStart || at >= rangeEnd) return at;
  SegmentCursor cursor(layout, rangeStart, rangeEnd);
  uint64_t segmentEnd = 0;
  const SwapSegment* segment = cursor.At(at, &segmentEnd);
  if (!segment) return at;
  const uint64_t into = (at - cursor.Start()) % segment->UnitBytes();
  if (into == 0) return at;
  return up ? at + (segment->UnitBytes() - into) : at - into;
}

// A piece of whole units of `segment` (none: outside the range) as it is written: swapped in place,
// transformed into `other`, or as it is.
const unsigned char* Transformed(const SwapSegment* segment, unsigned char* piece,
                                 unsigned char* other, uint32_t size) {
  if (!segment) return piece;
  if (segment->reverseBytes) {
    SwapBlocks(piece, size, segment->reverseBytes);
  } else if (segment->transform) {
    segment->transform(segment->program, piece, other, size);
    return other;
  }
  return piece;
}

// A buffer read whole (Windows) is far larger than the processor's cache: read in parts that fit in
// it, each transformed right after its read while its bytes are still there, it is gone over once
// in memory rather than twice. A part is whole units and, where a unit lets it, whole pages, at
// least a piece of the native layer, which it then reads with one call as before.
uint32_t CachedPart(uint32_t unitBytes) {
  constexpr uint32_t kPage = 4096;
  constexpr uint32_t kCache = uint32_t{256} << 10;
  uint32_t unit = kPage;
  while (unit % unitBytes != 0 && unit < kCache) unit += kPage;
  if (unit % unitBytes != 0) unit = unitBytes;
  return unit >= kCache ? unit : (kCache + unit - 1) / unit * unit;
}

// Reads `wanted` bytes into `buffer` part by part, each part's whole units written as `segment`
// says (Transformed) as it comes; `got` is what came, fewer than wanted only at the input's end,
// and `piece` where what is to be written starts.
FileError ReadTransformed(FileLayer& files, const InputFile& input, const SwapSegment* segment,
                          unsigned char* buffer, unsigned char* other, uint32_t wanted,
                          uint32_t* got, const unsigned char** piece) {
  const uint32_t unit = segment ? segment->UnitBytes() : 1;
  const uint32_t part = CachedPart(unit);
  *piece = buffer;
  for (*got = 0; *got < wanted;) {
    const uint32_t asked = wanted - *got < part ? wanted - *got : part;
    uint32_t came = 0;
    if (const FileError error = files.Read(input, buffer + *got, asked, &came); error.Failed())
      return error;
    const unsigned char* written =
        Transformed(segment, buffer + *got, other ? other + *got : nullptr, came - came % unit);
    *piece = written - *got;
    *got += came;
    if (came < asked) break;
  }
  return FileError{};
}

// The layout a data size stands for: one block reversed, repeated to fill the range.
SwapSegment BlockSegment(unsigned dataSizeBits) {
  SwapSegment segment;
  segment.groupBytes = dataSizeBits / 8;
  segment.groups = SwapSegment::kFill;
  segment.reverseBytes = dataSizeBits / 8;
  return segment;
}

// The layout of one segment of blocks that fills the range.
SwapLayout OneBlockLayout(const SwapSegment& segment) {
  SwapLayout layout{&segment, 1, LayoutSpan()};
  layout.span.fillGroupBytes = segment.groupBytes;
  return layout;
}

}  // namespace

namespace {

// The largest group a segment may transform into another buffer: a piece holds one at least.
constexpr uint64_t kLargestTransformedGroup = 16u << 20;

}  // namespace

LayoutSpan SpanOf(const SwapSegment* segments, size_t count) {
  LayoutSpan span;
  for (size_t i = 0; i < count; ++i) {
    const SwapSegment& segment = segments[i];
    if (segment.groups == SwapSegment::kFill) {
      span.fillGroupBytes = segment.groupBytes;
      continue;
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(segment.groups, segment.groupBytes, &bytes)) bytes = UINT64_MAX;
    span.fixedBytes = SaturatingAdd(span.fixedBytes, bytes);
    if (span.fillGroupBytes != 0) span.afterFillBytes = SaturatingAdd(span.afterFillBytes, bytes);
  }
  return span;
}

bool IsValidLayout(const SwapLayout& layout) {
  if (!layout.segments || layout.count == 0) return false;
  size_t fills = 0;
  for (size_t i = 0; i < layout.count; ++i) {
    const SwapSegment& segment = layout.segments[i];
    if (segment.groupBytes == 0) return false;
    if (segment.groups == SwapSegment::kFill) ++fills;
    if (segment.reverseBytes && (!IsValidDataSize(segment.reverseBytes * 8) ||
                                 segment.groupBytes % segment.reverseBytes != 0))
      return false;
    if (!segment.reverseBytes && segment.transform && segment.groupBytes > kLargestTransformedGroup)
      return false;
  }
  const LayoutSpan span = SpanOf(layout.segments, layout.count);
  return fills <= 1 && span.fixedBytes != UINT64_MAX && span.fixedBytes == layout.span.fixedBytes &&
         span.fillGroupBytes == layout.span.fillGroupBytes &&
         span.afterFillBytes == layout.span.afterFillBytes;
}

bool IsCoveredLength(uint64_t length, const SwapLayout& layout) {
  const LayoutSpan& span = layout.span;
  if (length == 0 || length < span.fixedBytes) return false;
  const uint64_t left = length - span.fixedBytes;
  return span.fillGroupBytes != 0 ? left % span.fillGroupBytes == 0 : left == 0;
}

bool IsSwappableRange(uint64_t size, const SwapRange& range, const SwapLayout& layout) {
  if (range.offset > size) return false;
  const uint64_t after = size - range.offset;
  if (!range.toEnd && range.length > after) return false;
  return IsCoveredLength(range.toEnd ? after : range.length, layout);
}

SwapOutcome CheckInput(const InputFile& input, const SwapLayout& layout, const SwapOptions& options) {
  if (IsRefusedSize(input, options.range, layout)) return SizeRefusal(input.Size());
  if (IsLengthNeeded(input, options.range, layout)) return LengthRefusal();
  return SwapOutcome();
}

namespace {

// The swap by a layout already checked (IsValidLayout); the data sizes' functions and, natively,
// the layouts' call it. Each has one caller in the Windows programs, which carry no layout code.
SwapOutcome SwapByLayout(FileLayer& files, InputFile& input, OutputFile& output,
                         const SwapLayout& layout, const SwapOptions& options) {
  const SwapRange& range = options.range;
  if (const SwapOutcome refused = CheckInput(input, layout, options); !refused.Succeeded())
    return refused;
  const uint32_t unitBytes = LargestUnit(layout);
  Buffer buffer(files, PieceSize(files, input, output, unitBytes));
  buffer.TryInstead(WholeUnits(files.PieceBytes(), unitBytes));
  const bool transforms = TransformsIntoAnother(layout);
  Buffer other(files, transforms && buffer.Get() ? buffer.Size() : 0);
  if (!buffer.Get() || (transforms && !other.Get())) return Ended(OutOfMemory(FileSide::kInput), 0);

  // A piece ends at the next end of the range or of a segment ahead of it, so that it lies wholly
  // inside or outside the range, and inside within one segment. There, every piece but a
  // segment's last is full, and so whole units; a remainder can only end a stream.
  // A file's holes read as zeros, which every swap leaves as zeros: where the output can keep
  // them, they are passed over, and a piece ends where its stretch of data does, both widened to
  // whole units.
  const uint64_t end = RangeEnd(input, range);
  SegmentCursor cursor(layout, range.offset, end);
  uint64_t length = 0;
  bool holes = input.IsFile();
  for (bool ended = false; !ended;) {
    uint64_t dataEnd = UINT64_MAX;
    if (holes) {
      uint64_t dataStart = length;
      if (const FileError error = files.FindData(input, length, &dataStart, &dataEnd);
          error.Failed())
        return Ended(error, length);
      const uint64_t start = UnitEdge(layout, dataStart, range.offset, end, false);
      dataEnd = UnitEdge(layout, dataEnd, range.offset, end, true);
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
    const bool inside = length >= range.offset && length < end;
    uint64_t boundary = length < range.offset ? range.offset : end;
    uint64_t segmentEnd = 0;
    const SwapSegment* segment = inside ? cursor.At(length, &segmentEnd) : nullptr;
    if (segment && segmentEnd < boundary) boundary = segmentEnd;
    const uint32_t unit = segment ? segment->UnitBytes() : 1;
    if (boundary > length && boundary - length < limit) limit = boundary - length;
    if (dataEnd > length && dataEnd - length < limit) limit = dataEnd - length;
    uint32_t wanted = static_cast<uint32_t>(limit);
    if (wanted >= unit) wanted -= wanted % unit;
    if (wanted == 0) break;
    uint32_t got = 0;
    const unsigned char* piece = nullptr;
    if (const FileError error = ReadTransformed(files, input, segment, buffer.Get(), other.Get(),
                                                wanted, &got, &piece);
        error.Failed())
      return Ended(error, length);
    length += got;
    ended = got < wanted;
    if (ended && input.IsFile())
      return Ended(Failure(FileStep::kRead, FileSide::kInput, FileReason::kShortTransfer), length);
    const uint32_t kept = got - got % unit;
    if (kept == 0) break;
    if (const FileError error = output.Write(piece, kept); error.Failed())
      return Ended(error, length);
    if (options.progress)
      options.progress(options.context, length, input.IsFile() ? input.Size() : 0);
  }
  if (!IsSwappableRange(length, range, layout)) return SizeRefusal(length);
  SwapOutcome outcome = Ended(output.Commit(), length);
  outcome.written = output.Written();
  return outcome;
}

SwapOutcome SwapOpenInputByLayout(FileLayer& files, InputFile& input, ResolvedPath* outputPath,
                                  const SwapLayout& layout, const SwapOptions& options) {
  if (const SwapOutcome refused = CheckInput(input, layout, options); !refused.Succeeded())
    return refused;
  if (!outputPath) return Ended(OutOfMemory(FileSide::kOutput), 0);
  OwnedOutput output;
  if (const FileError error = files.OpenOutput(input, *outputPath, &output); error.Failed())
    return Ended(error, input.Size());
  return SwapByLayout(files, input, *output, layout, options);
}

SwapOutcome SwapFileByLayout(FileLayer& files, const char* inputPath, const char* outputPath,
                             const SwapLayout& layout, const SwapOptions& options) {
  const OwnedPath from = files.Resolve(inputPath, nullptr);
  if (!from) return Ended(OutOfMemory(FileSide::kInput), 0);
  InputFile input;
  if (const FileError error = files.OpenInput(*from, &input); error.Failed())
    return Ended(error, 0);
  const OwnedPath output = files.Resolve(outputPath, nullptr);
  return SwapOpenInputByLayout(files, input, output.get(), layout, options);
}

}  // namespace

// A data size is the layout of one block: its checks, then the same swap.
SwapOutcome SwapInto(FileLayer& files, InputFile& input, OutputFile& output, unsigned dataSizeBits,
                     const SwapOptions& options) {
  if (!IsValidDataSize(dataSizeBits)) return ArgumentsRefusal();
  const SwapSegment segment = BlockSegment(dataSizeBits);
  return SwapByLayout(files, input, output, OneBlockLayout(segment), options);
}

SwapOutcome SwapOpenInput(FileLayer& files, InputFile& input, ResolvedPath* outputPath,
                          unsigned dataSizeBits, const SwapOptions& options) {
  if (!IsValidDataSize(dataSizeBits)) return ArgumentsRefusal();
  const SwapSegment segment = BlockSegment(dataSizeBits);
  return SwapOpenInputByLayout(files, input, outputPath, OneBlockLayout(segment), options);
}

SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     unsigned dataSizeBits, const SwapOptions& options) {
  if (!inputPath || !outputPath || !IsValidDataSize(dataSizeBits)) return ArgumentsRefusal();
  const SwapSegment segment = BlockSegment(dataSizeBits);
  return SwapFileByLayout(files, inputPath, outputPath, OneBlockLayout(segment), options);
}

SwapOutcome SwapInto(FileLayer& files, InputFile& input, OutputFile& output,
                     const SwapLayout& layout, const SwapOptions& options) {
  if (!IsValidLayout(layout)) return ArgumentsRefusal();
  return SwapByLayout(files, input, output, layout, options);
}

SwapOutcome SwapOpenInput(FileLayer& files, InputFile& input, ResolvedPath* outputPath,
                          const SwapLayout& layout, const SwapOptions& options) {
  if (!IsValidLayout(layout)) return ArgumentsRefusal();
  return SwapOpenInputByLayout(files, input, outputPath, layout, options);
}

SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     const SwapLayout& layout, const SwapOptions& options) {
  if (!inputPath || !outputPath || !IsValidLayout(layout)) return ArgumentsRefusal();
  return SwapFileByLayout(files, inputPath, outputPath, layout, options);
}

bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits) {
  return SwapFile(files, inputPath, outputPath, dataSizeBits).Succeeded();
}

bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits) {
  return SwapFileByteOrder(SystemFileLayer(), inputPath, outputPath, dataSizeBits);
}
