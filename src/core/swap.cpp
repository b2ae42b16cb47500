#include "swap.h"

#include <cstring>

#include "file_layer.h"
#include "swap_kernels.h"

namespace {

// Blocks need not be aligned: load and store through memcpy, which compiles to plain moves.
template <typename T>
T Load(const void* p) {
  T value;
  memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void Store(void* p, T value) {
  memcpy(p, &value, sizeof value);
}

// `bytes` rounded down to whole blocks, and at least one block: a piece never splits a block.
uint32_t WholeBlocks(uint32_t bytes, unsigned blockBytes) {
  const uint32_t rounded = bytes - bytes % blockBytes;
  return rounded != 0 ? rounded : blockBytes;
}

uint32_t PieceOf(uint64_t left, uint32_t piece) {
  return left < piece ? static_cast<uint32_t>(left) : piece;
}

// The whole input in `buffer`, swapped piece by piece as each is read (still in cache), then the
// output, another file than the input, created and written with one call. Closes the input and
// releases the buffer.
bool SwapWhole(FileLayer& files, FileLayer::Handle input, unsigned char* buffer, uint32_t size,
               const char* outputPath, unsigned blockBytes) {
  const uint32_t piece = WholeBlocks(files.WholeReadPieceBytes(), blockBytes);
  for (uint32_t done = 0; done < size;) {
    const uint32_t bytes = PieceOf(size - done, piece);
    if (!files.ReadAll(input, buffer + done, bytes)) {
      files.Close(input);
      files.ReleaseBuffer(buffer, size);
      return false;
    }
    SwapBlocks(buffer + done, bytes, blockBytes);
    done += bytes;
  }
  files.Close(input);

  const FileLayer::Handle output = files.CreateOutput(outputPath);
  if (output == FileLayer::kNoFile) {
    files.ReleaseBuffer(buffer, size);
    return false;
  }
  const bool written = files.WriteAll(output, buffer, size);
  files.Close(output);
  files.ReleaseBuffer(buffer, size);
  return written;
}

// Reads `size` bytes of `input` piece by piece and writes each, swapped, to `output`.
bool SwapStreamed(FileLayer& files, FileLayer::Handle input, FileLayer::Handle output,
                  uint64_t size, unsigned char* buffer, uint32_t piece, unsigned blockBytes) {
  for (uint64_t done = 0; done < size;) {
    const uint32_t bytes = PieceOf(size - done, piece);
    if (!files.ReadAll(input, buffer, bytes)) return false;
    SwapBlocks(buffer, bytes, blockBytes);
    if (!files.WriteAll(output, buffer, bytes)) return false;
    done += bytes;
  }
  return true;
}

// One piece's buffer for a file of `size` bytes, so that memory use stays flat whatever the size.
uint32_t StreamPiece(FileLayer& files, uint64_t size, unsigned blockBytes) {
  return PieceOf(size, WholeBlocks(files.StreamPieceBytes(), blockBytes));
}

// A file too large to hold whole, going to another file: streamed into the created or truncated
// output through one buffer of a few MiB. Closes the input.
bool SwapInPieces(FileLayer& files, FileLayer::Handle input, uint64_t size, const char* outputPath,
                  unsigned blockBytes) {
  const uint32_t piece = StreamPiece(files, size, blockBytes);
  auto* buffer = static_cast<unsigned char*>(files.AllocateBuffer(piece));
  bool swapped = false;
  if (buffer) {
    const FileLayer::Handle output = files.CreateOutput(outputPath);
    if (output != FileLayer::kNoFile) {
      swapped = SwapStreamed(files, input, output, size, buffer, piece, blockBytes);
      files.Close(output);
    }
    files.ReleaseBuffer(buffer, piece);
  }
  files.Close(input);
  return swapped;
}

// A file that cannot be written refuses a swap in place, as it did when the swap wrote through it,
// although its folder might let it be replaced. Its size is measured again: a file whose size
// changed since it was first measured is being written by someone else, whose work a replacement
// would undo.
bool IsWritableAndUnchanged(FileLayer& files, const char* path, uint64_t size) {
  const FileLayer::Handle file = files.OpenInPlace(path);
  if (file == FileLayer::kNoFile) return false;
  uint64_t sizeNow = 0;
  const bool unchanged = files.GetSize(file, &sizeNow) && sizeNow == size;
  files.Close(file);
  return unchanged;
}

// The output is the input file itself. The swapped contents are streamed into a new file beside
// it, flushed to the disk, and only then put in its place in one step: a failure, a kill or a power
// cut at any moment leaves `path` naming either the original or the whole swapped file, and a
// failure removes the new file. Memory stays at one piece whatever the size. Closes the input
// before the replacement, which a platform may refuse while the file is open.
bool SwapInPlace(FileLayer& files, FileLayer::Handle input, uint64_t size, const char* path,
                 unsigned blockBytes) {
  const uint32_t piece = StreamPiece(files, size, blockBytes);
  unsigned char* buffer = nullptr;
  if (IsWritableAndUnchanged(files, path, size))
    buffer = static_cast<unsigned char*>(files.AllocateBuffer(piece));
  if (!buffer) {
    files.Close(input);
    return false;
  }
  char newPath[FileLayer::kLongestPath];
  const FileLayer::Handle replacement = files.CreateReplacement(path, newPath);
  bool written = false;
  if (replacement != FileLayer::kNoFile) {
    written = SwapStreamed(files, input, replacement, size, buffer, piece, blockBytes) &&
              files.Flush(replacement);
    files.Close(replacement);
    if (!written) files.Remove(newPath);
  }
  files.Close(input);
  files.ReleaseBuffer(buffer, piece);
  return written && files.Replace(newPath, path);
}

}  // namespace

void SwapBlock(void* block, unsigned blockBytes) {
  if (!block) return;
  switch (blockBytes) {
    case 2:
      Store(block, __builtin_bswap16(Load<uint16_t>(block)));
      break;
    case 4:
      Store(block, __builtin_bswap32(Load<uint32_t>(block)));
      break;
    case 8:
      Store(block, __builtin_bswap64(Load<uint64_t>(block)));
      break;
    default:
      break;
  }
}

void SwapBlocks(unsigned char* buffer, size_t size, unsigned blockBytes) {
  switch (blockBytes) {
    case 2:
      SwapBlocks2(buffer, size / 2);
      break;
    case 4:
      SwapBlocks4(buffer, size / 4);
      break;
    case 8:
      SwapBlocks8(buffer, size / 8);
      break;
    case 3:
      SwapBlocks3(buffer, size / 3);  // 24-bit samples, common enough for a path of their own
      break;
    default:
      if (blockBytes >= kSmallestDataSizeBits / 8 && blockBytes <= kLargestDataSizeBits / 8)
        SwapBlocksOfAnyLength(buffer, size / blockBytes, blockBytes);
      break;
  }
}

bool IsValidDataSize(unsigned dataSizeBits) {
  return dataSizeBits % 8 == 0 && dataSizeBits >= kSmallestDataSizeBits &&
         dataSizeBits <= kLargestDataSizeBits;
}

bool IsSwappableSize(uint64_t size, unsigned blockBytes) {
  return size != 0 && blockBytes != 0 && size % blockBytes == 0;
}

bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits) {
  if (!inputPath || !outputPath || !IsValidDataSize(dataSizeBits)) return false;
  const unsigned blockBytes = dataSizeBits / 8;

  const FileLayer::Handle input = files.OpenInput(inputPath);
  if (input == FileLayer::kNoFile) return false;
  uint64_t size = 0;
  if (!files.GetSize(input, &size) || !IsSwappableSize(size, blockBytes)) {
    files.Close(input);
    return false;
  }
  // The same file by identity, not by the spelling of its path: writing into a truncated "other"
  // file that is really the input would destroy it.
  if (files.IsSameFile(input, outputPath))
    return SwapInPlace(files, input, size, outputPath, blockBytes);
  if (size <= files.LargestWholeFile()) {
    void* buffer = files.AllocateBuffer(static_cast<size_t>(size));
    if (buffer) {
      return SwapWhole(files, input, static_cast<unsigned char*>(buffer),
                       static_cast<uint32_t>(size), outputPath, blockBytes);
    }
  }
  return SwapInPieces(files, input, size, outputPath, blockBytes);
}

bool SwapStreamByteOrder(FileLayer& files, FileLayer::Handle input, FileLayer::Handle output,
                         unsigned dataSizeBits, uint64_t* length) {
  *length = 0;
  if (!IsValidDataSize(dataSizeBits)) return false;
  const unsigned blockBytes = dataSizeBits / 8;
  const uint32_t piece = WholeBlocks(files.StreamPieceBytes(), blockBytes);
  auto* buffer = static_cast<unsigned char*>(files.AllocateBuffer(piece));
  if (!buffer) return false;

  // Every piece but the last is full, and so whole blocks; a remainder can only end the input.
  bool swapped = true;
  for (uint32_t got = piece; swapped && got == piece;) {
    swapped = files.ReadUpTo(input, buffer, piece, &got);
    if (!swapped) break;
    *length += got;
    const uint32_t whole = got - got % blockBytes;
    SwapBlocks(buffer, whole, blockBytes);
    swapped = files.WriteAll(output, buffer, whole);
  }
  files.ReleaseBuffer(buffer, piece);
  return swapped && IsSwappableSize(*length, blockBytes);
}

bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits) {
  return SwapFileByteOrder(SystemFileLayer(), inputPath, outputPath, dataSizeBits);
}
