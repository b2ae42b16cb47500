// Byte-order reversal of fixed-size blocks, in memory and for a whole file.
#pragma once

#include <cstddef>
#include <cstdint>

class FileLayer;

/// Reverses the bytes of one block in place when `blockBytes` is 2, 4 or 8; any other length, or a
/// null block, leaves memory unchanged.
void SwapBlock(void* block, unsigned blockBytes);

/// Applies SwapBlock to each of the `size / blockBytes` consecutive blocks of `buffer`.
void SwapBlocks(unsigned char* buffer, size_t size, unsigned blockBytes);

/// True when a file of `size` bytes can be swapped in blocks of `blockBytes`: not empty, an exact
/// multiple of the block length, and small enough to be read whole in one 32-bit count.
bool IsSwappableSize(uint64_t size, unsigned blockBytes);

/// Reads `inputPath` whole, reverses every block of `dataSizeBits / 8` bytes and writes the result to
/// `outputPath`, which may name the same file. `dataSizeBits` must be a non-zero multiple of 16.
/// Returns false on any failure; nothing is touched before the input has been read whole, and a
/// failed check never creates or changes the output.
bool SwapFileByteOrder(const char* inputPath, const char* outputPath, unsigned dataSizeBits);

/// The same, through the given file layer.
bool SwapFileByteOrder(FileLayer& files, const char* inputPath, const char* outputPath,
                       unsigned dataSizeBits);
