// Byte-order reversal of fixed-size blocks, in memory and for a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file_layer.h"

/// Reverses the bytes of each of the `size / blockBytes` consecutive blocks of `buffer`, many
/// blocks at once with the fastest instructions this processor and system offer, for any block
/// length from 2 to 128 bytes in the native program, and for 2, 4 and 8 bytes in the Windows
/// programs; any other length leaves memory unchanged, as does a partial block at the
/// end. `buffer` may have any alignment.
void SwapBlocks(unsigned char* buffer, size_t size, unsigned blockBytes);

/// The widest range of data sizes: whole numbers of bytes from 2 to 128, all of which the native
/// program swaps. The Windows programs swap 16, 32 and 64 bits only.
constexpr unsigned kSmallestDataSizeBits = 16;
constexpr unsigned kLargestDataSizeBits = 1024;

/// True when this program swaps blocks of `dataSizeBits`: a multiple of 8 from
/// kSmallestDataSizeBits to kLargestDataSizeBits that SwapBlocks reverses here (any natively; 16,
/// 32 and 64 in the Windows programs), so that no swap reports success with its blocks left as they
/// were. The front ends may offer fewer.
bool IsValidDataSize(unsigned dataSizeBits);

/// True when a file of `size` bytes can be swapped in blocks of `blockBytes`: not empty and an
/// exact multiple of the block length.
bool IsSwappableSize(uint64_t size, unsigned blockBytes);

/// The part of the input that is swapped: `length` bytes from `offset`, or, where `toEnd`, every
/// byte from `offset` to the end. The bytes before and after it are written as they are.
struct SwapRange {
  uint64_t offset = 0;
  uint64_t length = 0;
  bool toEnd = true;
};

/// One run of the part of an input that is swapped: `groups` groups of `groupBytes` bytes, each
/// transformed alike. A data size is one segment of reversed blocks that fills the range; a layout
/// of mixed fields (the native program's) is several.
struct SwapSegment {
  /// As `groups`: as many groups as fill what the other segments leave of the range.
  static constexpr uint64_t kFill = UINT64_MAX;

  uint64_t groupBytes = 0;
  uint64_t groups = 0;
  /// Where not 0, each block of this many bytes is reversed in place (SwapBlocks): the kernels of
  /// the data sizes, for any layout of one width.
  unsigned reverseBytes = 0;
  /// Otherwise, where set, writes the `size` bytes at `in`, whole groups, transformed into `out`
  /// (another buffer), `program` saying how; where neither is set, the bytes are kept.
  void (*transform)(const void* program, const unsigned char* in, unsigned char* out,
                    size_t size) = nullptr;
  const void* program = nullptr;

  /// What a piece within the segment must be a whole number of: a block, a group, or a byte. A
  /// group transformed is at most 16 MiB (IsValidLayout).
  uint32_t UnitBytes() const {
    return reverseBytes ? reverseBytes : transform ? static_cast<uint32_t>(groupBytes) : 1;
  }
};

/// What a layout takes of the part it is laid on: the bytes of its segments that do not fill, the
/// group of the one that does (0 where none does), and the bytes of the segments after that one.
struct LayoutSpan {
  uint64_t fixedBytes = 0;
  uint64_t fillGroupBytes = 0;
  uint64_t afterFillBytes = 0;
};

/// The segments the swapped part is cut into, in order, at most one of them filling, owned by the
/// caller, and their span, worked out once by whoever made them. A piece of the swap never
/// crosses the end of a segment.
struct SwapLayout {
  const SwapSegment* segments = nullptr;
  size_t count = 0;
  LayoutSpan span;
};

/// The span of `count` segments; fixed bytes beyond 64 bits are UINT64_MAX.
LayoutSpan SpanOf(const SwapSegment* segments, size_t count);

/// True when the swap takes `layout`: one segment or more, none with empty groups, at most one
/// filling, reversed blocks of a valid data size, fixed bytes within 64 bits, units whole groups,
/// and its span that of its segments.
bool IsValidLayout(const SwapLayout& layout);

/// True when `length` bytes are a non-zero length that `layout` covers exactly: its fixed bytes
/// and, where one fills, a whole number of its groups.
bool IsCoveredLength(uint64_t length, const SwapLayout& layout);

/// True when an input of `size` bytes holds `range` and the range is covered by `layout`.
bool IsSwappableRange(uint64_t size, const SwapRange& range, const SwapLayout& layout);

/// What a swap is asked for besides its data size: the range, and whom to tell of its progress.
/// `progress`, where set, is called after each piece with `context`, the bytes of the input written
/// so far and the input's size (0 for a stream, whose size is known only when it ends).
struct SwapOptions {
  SwapRange range;
  void (*progress)(void* context, uint64_t done, uint64_t size) = nullptr;
  void* context = nullptr;
};

/// How a swap ended: `error.step` is FileStep::kNone when it succeeded.
struct SwapOutcome {
  FileError error;
  /// How many bytes the input has: its size, or what a stream delivered.
  uint64_t length = 0;
  /// What the output's name reaches once the output took it, even where a later step failed (a
  /// folder that could not be flushed): OutputFile::Written.
  PathTarget written;

  bool Succeeded() const { return !error.Failed(); }
};

/// Reverses every block of `dataSizeBits / 8` bytes of `inputPath` and writes the result to
/// `outputPath`, which may name the same file. `dataSizeBits` must be valid (IsValidDataSize).
/// A failed check (paths, data size, an empty input or one that is not a multiple of the block
/// length) never creates or changes any file. The file layer chooses how the output is written
/// (see FileLayer::OpenOutput): on Windows another file is created or truncated and written, a
/// file below 4 GiB with one call, and a failure part-way leaves what was written; natively, and in
/// place on both, the swapped file is written to a staged file beside it that takes its name only
/// once whole, so that a failure leaves the output as it was.
SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     unsigned dataSizeBits, const SwapOptions& options = SwapOptions());

/// The same for an input already open, which may be a stream, and an output path resolved by the
/// layer (null where its memory could not be had): the output is opened for it.
SwapOutcome SwapOpenInput(FileLayer& files, InputFile& input, ResolvedPath* output,
                          unsigned dataSizeBits, const SwapOptions& options = SwapOptions());

/// Why `input` is refused before anything is read or any output opened: a regular input whose
/// range `layout` does not cover (kSize, IsSwappableRange), or a stream whose length comes only
/// with its end where the layout must know it (kSize, kLengthNeeded); success where neither, a
/// stream's size being known only at its end.
SwapOutcome CheckInput(const InputFile& input, const SwapLayout& layout, const SwapOptions& options);

/// Reads `input` piece by piece (a file whole, where the layer reads it so), writes each piece to
/// `output` with the whole blocks of the range swapped and the bytes outside it as they are, and
/// commits the output. A piece never crosses an end of the range, nor of a segment of the layout,
/// so that the swapped part of each is whole blocks, or whole groups of one segment. A stream that
/// turns out not to hold a swappable range (IsSwappableRange) fails, with what came before the
/// fault written and the output not committed.
SwapOutcome SwapInto(FileLayer& files, InputFile& input, OutputFile& output, unsigned dataSizeBits,
                     const SwapOptions& options = SwapOptions());

/// The same three, for a layout of segments (IsValidLayout) in place of a data size, natively. A
/// stream whose length is unknown (not a regular file, and no range length) is refused, nothing
/// created, where the layout has segments after the one that fills (FileReason::kLengthNeeded).
SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     const SwapLayout& layout, const SwapOptions& options = SwapOptions());
SwapOutcome SwapOpenInput(FileLayer& files, InputFile& input, ResolvedPath* output,
                          const SwapLayout& layout, const SwapOptions& options = SwapOptions());
SwapOutcome SwapInto(FileLayer& files, InputFile& input, OutputFile& output,
                     const SwapLayout& layout, const SwapOptions& options = SwapOptions());

/// SwapFile through the platform's file layer, reporting only whether it worked.
bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits);

/// The same, through the given file layer.
bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits);
