// The kernels for every other block length, which only the native program takes: 3 bytes (24-bit
// samples, common enough for a kernel of their own) and any length up to kLongestBlock, 16 bytes
// included. 16 is no multiple of these lengths, so vectors are placed block by block. They follow
// the choice of swap_kernels.cpp, CurrentSwapKernel.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "swap_kernels.h"
#include "swap_kernels_shared.h"

namespace {

// The longest block reversed, in bytes.
constexpr unsigned kLongestBlock = 128;

void PlainBlocks3(unsigned char* p, size_t blocks) {
  for (; blocks > 0; --blocks, p += 3) std::swap(p[0], p[2]);
}

// Where the chunk at index `k` of a block of `length` bytes starts: every `chunkBytes`, the last
// one pulled back to end with the block (it may then overlap the one before).
inline unsigned ChunkStart(unsigned k, unsigned chunkBytes, unsigned length) {
  return std::min(k * chunkBytes, length - chunkBytes);
}

// A block of 8 bytes or more, one at a time: every 8-byte chunk that covers it is read before any
// is written, then each goes reversed to the mirror of its place. Where two chunks overlap, their
// writes agree, since each byte's new value is its mirror's old one.
void PlainLongBlocks(unsigned char* p, size_t blocks, unsigned length) {
  uint64_t chunk[kLongestBlock / 8];
  const unsigned chunks = (length + 7) / 8;
  for (; blocks > 0; --blocks, p += length) {
    for (unsigned k = 0; k < chunks; ++k) chunk[k] = Load<uint64_t>(p + ChunkStart(k, 8, length));
    for (unsigned k = 0; k < chunks; ++k) {
      Store<uint64_t>(p + length - 8 - ChunkStart(k, 8, length), __builtin_bswap64(chunk[k]));
    }
  }
}

// Any length, also the tail of the vector kernels for any length.
void PlainAnyBlocks(unsigned char* p, size_t blocks, unsigned length) {
  if (length >= 8) {
    PlainLongBlocks(p, blocks, length);
    return;
  }
  for (; blocks > 0; --blocks, p += length) std::reverse(p, p + length);
}

ORVANE_INLINE_TARGET("sse2")
__m128i Load128(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ORVANE_INLINE_TARGET("sse2")
void Store128(unsigned char* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// The shuffle that reverses each whole block in the first `step` bytes of a vector and leaves the
// bytes after them in place.
ORVANE_INLINE_TARGET("sse2")
__m128i ShortBlockOrder(unsigned length, unsigned step) {
  char order[16];
  for (unsigned i = 0; i < 16; ++i) {
    order[i] = static_cast<char>(i < step ? i - i % length + length - 1 - i % length : i);
  }
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(order));
}

// Blocks shorter than a vector (3, 5, 6, 7, 9 to 15 bytes): each vector reverses as many whole
// blocks as it holds, `step` bytes, and writes the bytes after them back as they were; the next
// vector starts right after those blocks. Each vector is read before the one before it is written,
// so that it holds only bytes as they were, and so that no read waits on a write it overlaps.
template <unsigned kBlockBytes>  // 0: the length is known only at run time
ORVANE_TARGET("ssse3") void Ssse3ShortBlocks(unsigned char* p, size_t blocks, unsigned length) {
  if (kBlockBytes != 0) length = kBlockBytes;
  const unsigned step = 16 / length * length;
  const __m128i order = ShortBlockOrder(length, step);
  size_t bytes = blocks * length;
  if (bytes >= 16) {
    __m128i v = Load128(p);
    for (; bytes >= 4 * step + 16; bytes -= 4 * step, p += 4 * step) {
      const __m128i a = Load128(p + step);
      const __m128i b = Load128(p + 2 * step);
      const __m128i c = Load128(p + 3 * step);
      const __m128i d = Load128(p + 4 * step);
      Store128(p, _mm_shuffle_epi8(v, order));
      Store128(p + step, _mm_shuffle_epi8(a, order));
      Store128(p + 2 * step, _mm_shuffle_epi8(b, order));
      Store128(p + 3 * step, _mm_shuffle_epi8(c, order));
      v = d;
    }
    for (; bytes >= step + 16; bytes -= step, p += step) {
      const __m128i next = Load128(p + step);
      Store128(p, _mm_shuffle_epi8(v, order));
      v = next;
    }
    Store128(p, _mm_shuffle_epi8(v, order));
    bytes -= step;
    p += step;
  }
  PlainAnyBlocks(p, bytes / length, length);
}

// Blocks of 16 bytes or more, as PlainLongBlocks does with 16-byte chunks. A block of 16 is one
// chunk; up to 32 bytes, the two chunks at either end cover a block, and need no loop of their own.
ORVANE_TARGET("ssse3")
void Ssse3LongBlocks(unsigned char* p, size_t blocks, unsigned length) {
  const __m128i reverse = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  if (length == 16) {
    for (; blocks > 0; --blocks, p += 16) Store128(p, _mm_shuffle_epi8(Load128(p), reverse));
    return;
  }
  if (length <= 32) {
    for (; blocks > 0; --blocks, p += length) {
      const __m128i first = Load128(p);
      const __m128i last = Load128(p + length - 16);
      Store128(p, _mm_shuffle_epi8(last, reverse));
      Store128(p + length - 16, _mm_shuffle_epi8(first, reverse));
    }
    return;
  }
  __m128i chunk[kLongestBlock / 16];
  const unsigned chunks = (length + 15) / 16;
  for (; blocks > 0; --blocks, p += length) {
    for (unsigned k = 0; k < chunks; ++k) chunk[k] = Load128(p + ChunkStart(k, 16, length));
    for (unsigned k = 0; k < chunks; ++k) {
      Store128(p + length - 16 - ChunkStart(k, 16, length), _mm_shuffle_epi8(chunk[k], reverse));
    }
  }
}

ORVANE_TARGET("ssse3")
void Ssse3AnyBlocks(unsigned char* p, size_t blocks, unsigned length) {
  if (length >= 16) {
    Ssse3LongBlocks(p, blocks, length);
  } else {
    Ssse3ShortBlocks<0>(p, blocks, length);
  }
}

// 24-bit samples: the length known when compiled, five blocks to a vector.
void Ssse3Blocks3(unsigned char* p, size_t blocks) { Ssse3ShortBlocks<3>(p, blocks, 3); }

struct WideKernelSet {
  void (*swap3)(unsigned char*, size_t);
  void (*swapAny)(unsigned char*, size_t, unsigned);
};

// Indexed by SwapKernel. SSE2 has no byte shuffle to place blocks that 16 is no multiple of: plain
// code does them. Neither has AVX2 one that crosses its two 16-byte lanes, which such blocks do:
// its set shares the SSSE3 kernels.
const WideKernelSet kWideKernelSets[] = {
    {PlainBlocks3, PlainAnyBlocks},
    {PlainBlocks3, PlainAnyBlocks},
    {Ssse3Blocks3, Ssse3AnyBlocks},
    {Ssse3Blocks3, Ssse3AnyBlocks},
};

}  // namespace

bool HasKernelFor(unsigned blockBytes) { return blockBytes >= 2 && blockBytes <= kLongestBlock; }

void SwapBlocksOfAnyLength(unsigned char* buffer, size_t size, unsigned blockBytes) {
  if (!HasKernelFor(blockBytes)) return;
  const WideKernelSet& kernels = kWideKernelSets[static_cast<int>(CurrentSwapKernel())];
  if (blockBytes == 3) {
    kernels.swap3(buffer, size / 3);
  } else {
    kernels.swapAny(buffer, size / blockBytes, blockBytes);
  }
}
