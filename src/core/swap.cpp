#include "swap.h"

#include <cstring>

#include "file_layer.h"

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

bool IsValidDataSize(unsigned dataSizeBits) { return dataSizeBits != 0 && dataSizeBits % 16 == 0; }

// Reads the whole input into a fresh buffer; null on any failure. The input is closed either way.
unsigned char* ReadWholeInput(FileLayer& files, const char* path, unsigned blockBytes,
                              uint32_t* size) {
  const FileLayer::Handle input = files.OpenInput(path);
  if (input == FileLayer::kNoFile) return nullptr;
  uint64_t fileSize = 0;
  if (!files.GetSize(input, &fileSize) || !IsSwappableSize(fileSize, blockBytes)) {
    files.Close(input);
    return nullptr;
  }
  *size = static_cast<uint32_t>(fileSize);
  auto* buffer = static_cast<unsigned char*>(files.AllocateBuffer(*size));
  if (buffer && !files.ReadAll(input, buffer, *size)) {
    files.ReleaseBuffer(buffer, *size);
    buffer = nullptr;
  }
  files.Close(input);
  return buffer;
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
  if (blockBytes == 0) return;
  const size_t blocks = size / blockBytes;
  for (size_t i = 0; i < blocks; ++i) SwapBlock(buffer + i * blockBytes, blockBytes);
}

bool IsSwappableSize(uint64_t size, unsigned blockBytes) {
  return size != 0 && blockBytes != 0 && size % blockBytes == 0 && size <= UINT32_MAX;
}

bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits) {
  if (!inputPath || !outputPath || !IsValidDataSize(dataSizeBits)) return false;
  const unsigned blockBytes = dataSizeBits / 8;

  uint32_t size = 0;
  unsigned char* buffer = ReadWholeInput(files, inputPath, blockBytes, &size);
  if (!buffer) return false;

  // The input is closed and held whole in memory, so the output may name the same file.
  const FileLayer::Handle output = files.CreateOutput(outputPath);
  if (output == FileLayer::kNoFile) {
    files.ReleaseBuffer(buffer, size);
    return false;
  }
  SwapBlocks(buffer, size, blockBytes);
  const bool written = files.WriteAll(output, buffer, size);
  files.Close(output);
  files.ReleaseBuffer(buffer, size);
  return written;
}

bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits) {
  return SwapFileByteOrder(SystemFileLayer(), inputPath, outputPath, dataSizeBits);
}
