// Byte-order reversal of fixed-size blocks, in memory and for a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file_layer.h"

/// Reverses the bytes of one block in place when `blockBytes` is 2, 4 or 8; any other length, or a
/// null block, leaves memory unchanged.
void SwapBlock(void* block, unsigned blockBytes);

/// Reverses the bytes of each of the `size / blockBytes` consecutive blocks of `buffer`, many
/// blocks at once with the fastest instructions this processor and system offer, for any block
/// length from 2 to 128 bytes in the native program, and for 2, 4 and 8 bytes in the Windows
/// programs, as SwapBlock; any other length leaves memory unchanged, as does a partial block at the
/// end. `buffer` may have any alignment.
void SwapBlocks(unsigned char* buffer, size_t size, unsigned blockBytes);

/// The data sizes the swap takes: any whole number of bytes from 2 to 128. The Windows programs
/// reverse blocks of 2, 4 and 8 bytes only (SwapBlocks) and leave others as they are.
constexpr unsigned kSmallestDataSizeBits = 16;
constexpr unsigned kLargestDataSizeBits = 1024;

/// True when the swap takes blocks of `dataSizeBits`: a multiple of 8 from kSmallestDataSizeBits
/// to kLargestDataSizeBits. The front ends may offer fewer.
bool IsValidDataSize(unsigned dataSizeBits);

/// True when a file of `size` bytes can be swapped in blocks of `blockBytes`: not empty and an
/// exact multiple of the block length.
bool IsSwappableSize(uint64_t size, unsigned blockBytes);

/// Where a swap stopped, and why: the step, the file it concerns, and the reason.
enum class SwapStep {
  kNone,          ///< it succeeded
  kArguments,     ///< an absent path, or a data size that is not allowed
  kOpen,          ///< the input could not be opened, or the output opened for writing
  kSize,          ///< the input is empty, or not a whole number of blocks (`length` bytes)
  kRead,          ///< a read failed, or the input ended before its size
  kWrite,         ///< a write or a flush failed
  kAllocate,      ///< no buffer could be had
  kCreateCopy,    ///< in place: the new file beside it could not be created
  kManyNames,     ///< in place: the file has more than one name (hard links)
  kKeepIdentity,  ///< in place: the owner, permissions or attributes could not be given
  kChanged,       ///< in place: the file changed, or its name moved, while it was swapped
  kReplace,       ///< in place: the new file could not be put in the old one's place
};
enum class SwapSide { kInput, kOutput };

struct SwapOutcome {
  SwapStep step = SwapStep::kNone;
  SwapSide side = SwapSide::kInput;
  /// The system's code where a call failed, else 0 (a short read or write, a refusal).
  int error = 0;
  /// How many bytes the input has: its size, or what a stream delivered.
  uint64_t length = 0;

  bool Succeeded() const { return step == SwapStep::kNone; }
};

/// Reverses every block of `dataSizeBits / 8` bytes of `inputPath` and writes the result to
/// `outputPath`, which may name the same file. `dataSizeBits` must be valid (IsValidDataSize).
/// A failed check (paths, data size, an empty input or one that is not a multiple of the block
/// length) never creates or changes any file.
/// To another file: a file below 4 GiB whose buffer can be had is read whole before the output is
/// created or truncated and written; a larger one, or one whose buffer cannot be had, is streamed
/// into it in pieces of a few MiB. A failure part-way leaves a partial output.
/// In place (the output is the input file itself, whatever the spelling of its path): the swapped
/// file is streamed into a new file beside it, given the file's owner, permissions and attributes,
/// flushed, and put in its place in one step, so the path names either the original or the whole
/// swapped file at every moment; a failure leaves the original untouched and nothing beside it. A
/// file that cannot be written, has more than one name (hard links), or changes while it is
/// swapped is left as it is.
SwapOutcome SwapFile(FileLayer& files, const char* inputPath, const char* outputPath,
                     unsigned dataSizeBits);

/// The same for an input already open as `input` (a regular file), which it closes.
SwapOutcome SwapOpenFile(FileLayer& files, FileLayer::Handle input, const char* outputPath,
                         unsigned dataSizeBits);

/// SwapFile through the platform's file layer, reporting only whether it worked.
bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits);

/// The same, through the given file layer.
bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits);

/// Where a stream's swapped data goes: an open file, or a path created (or truncated) only once the
/// first whole block has come, so that an empty stream leaves it as it was.
struct StreamOutput {
  FileLayer::Handle file = FileLayer::kNoFile;
  const char* path = nullptr;
};

/// Reverses every block of `dataSizeBits / 8` bytes of the open `input`, read in pieces until it
/// ends, and writes each piece to `output` once it is swapped: for pipes and other inputs whose
/// length is known only at their end. Memory use is one piece, whatever the length. Fails on a
/// failed read or write, a data size that is not valid (IsValidDataSize), and an input that turns
/// out empty or not a whole number of blocks, whose whole blocks are by then written. Closes the
/// output only when it created it, and never the input.
SwapOutcome SwapStream(FileLayer& files, FileLayer::Handle input, StreamOutput output,
                       unsigned dataSizeBits);
