// Block reversal over a whole buffer, one kernel per instruction set. The Windows build targets any
// i686 processor, so nothing here may assume more than plain i686 outside a function that is only
// called after the processor has been asked: each vector kernel carries its own target attribute
// and the pointer to the kernel set is chosen once, at first use (the Windows toolchain has no
// ifunc).
//
// The kernels for 2, 4 and 8 bytes work on 16 or 32 bytes at a time through unaligned loads and
// stores. As 16 and 32 are multiples of those block lengths, a vector never splits a block,
// whatever the buffer's alignment; the tail shorter than a vector goes through the plain code.
// Other lengths, which 16 is no multiple of, need vectors placed block by block (see the SSSE3
// kernels for any length).
#include "swap_kernels.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

// 32-bit Windows keeps the stack aligned to 4 bytes only; a kernel that spills a vector must align
// its own frame first.
#if defined(__i386__)
#define ORVANE_TARGET(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define ORVANE_TARGET(isa) __attribute__((target(isa)))
#endif
#define ORVANE_INLINE_TARGET(isa) __attribute__((target(isa), always_inline)) inline

namespace {

template <typename T>
T Load(const unsigned char* p) {
  T value;
  memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void Store(unsigned char* p, T value) {
  memcpy(p, &value, sizeof value);
}

// Plain code: also the tail of every vector kernel.
template <unsigned kBlockBytes>
void PlainBlocks(unsigned char* p, size_t blocks);

// Two 2-byte blocks per step: reversing all four bytes and then exchanging the halves leaves each
// half reversed in its own place; far fewer instructions than one rotation per block.
template <>
void PlainBlocks<2>(unsigned char* p, size_t blocks) {
  for (size_t pairs = blocks / 2; pairs > 0; --pairs, p += 4) {
    const uint32_t reversed = __builtin_bswap32(Load<uint32_t>(p));
    Store<uint32_t>(p, (reversed << 16) | (reversed >> 16));
  }
  if (blocks % 2 != 0) Store<uint16_t>(p, __builtin_bswap16(Load<uint16_t>(p)));
}

template <>
void PlainBlocks<4>(unsigned char* p, size_t blocks) {
  for (; blocks > 0; --blocks, p += 4) Store<uint32_t>(p, __builtin_bswap32(Load<uint32_t>(p)));
}

template <>
void PlainBlocks<8>(unsigned char* p, size_t blocks) {
  for (; blocks > 0; --blocks, p += 8) Store<uint64_t>(p, __builtin_bswap64(Load<uint64_t>(p)));
}

template <>
void PlainBlocks<3>(unsigned char* p, size_t blocks) {
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

// SSE2 has no byte shuffle: exchange 16-bit words within each block, then the bytes of each word.
template <unsigned kBlockBytes>
ORVANE_INLINE_TARGET("sse2")
__m128i ReverseSse2(__m128i v) {
  if (kBlockBytes == 4) {
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);  // words 1 0 3 2
  } else if (kBlockBytes == 8) {
    v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0x1B), 0x1B);  // words 3 2 1 0
  }
  return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
}

template <unsigned kBlockBytes>
ORVANE_TARGET("sse2")
void Sse2Blocks(unsigned char* p, size_t blocks) {
  size_t bytes = blocks * kBlockBytes;
  for (; bytes >= 64; bytes -= 64, p += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), ReverseSse2<kBlockBytes>(a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), ReverseSse2<kBlockBytes>(b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), ReverseSse2<kBlockBytes>(c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), ReverseSse2<kBlockBytes>(d));
  }
  for (; bytes >= 16; bytes -= 16, p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), ReverseSse2<kBlockBytes>(a));
  }
  PlainBlocks<kBlockBytes>(p, bytes / kBlockBytes);
}

// Byte i of a reversed vector is byte i ^ (kBlockBytes - 1) of the original.
template <unsigned kBlockBytes>
ORVANE_INLINE_TARGET("ssse3")
__m128i ByteOrder128() {
  constexpr char m = kBlockBytes - 1;
  return _mm_setr_epi8(0 ^ m, 1 ^ m, 2 ^ m, 3 ^ m, 4 ^ m, 5 ^ m, 6 ^ m, 7 ^ m, 8 ^ m, 9 ^ m, 10 ^ m,
                       11 ^ m, 12 ^ m, 13 ^ m, 14 ^ m, 15 ^ m);
}

template <unsigned kBlockBytes>
ORVANE_TARGET("ssse3")
void Ssse3Blocks(unsigned char* p, size_t blocks) {
  const __m128i order = ByteOrder128<kBlockBytes>();
  size_t bytes = blocks * kBlockBytes;
  for (; bytes >= 64; bytes -= 64, p += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(a, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(b, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), _mm_shuffle_epi8(c, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 48), _mm_shuffle_epi8(d, order));
  }
  for (; bytes >= 16; bytes -= 16, p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(a, order));
  }
  PlainBlocks<kBlockBytes>(p, bytes / kBlockBytes);
}

template <unsigned kBlockBytes>
ORVANE_TARGET("avx2")
void Avx2Blocks(unsigned char* p, size_t blocks) {
  const __m128i order128 = ByteOrder128<kBlockBytes>();
  const __m256i order = _mm256_broadcastsi128_si256(order128);  // the shuffle stays in each lane
  size_t bytes = blocks * kBlockBytes;
  for (; bytes >= 128; bytes -= 128, p += 128) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64));
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_shuffle_epi8(a, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), _mm256_shuffle_epi8(b, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 64), _mm256_shuffle_epi8(c, order));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 96), _mm256_shuffle_epi8(d, order));
  }
  for (; bytes >= 16; bytes -= 16, p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(a, order128));
  }
  PlainBlocks<kBlockBytes>(p, bytes / kBlockBytes);
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

struct KernelSet {
  void (*swap2)(unsigned char*, size_t);
  void (*swap3)(unsigned char*, size_t);
  void (*swap4)(unsigned char*, size_t);
  void (*swap8)(unsigned char*, size_t);
  void (*swapAny)(unsigned char*, size_t, unsigned);
};

// Indexed by SwapKernel. SSE2 has no byte shuffle to place blocks that 16 is no multiple of: plain
// code does them. Neither has AVX2 one that crosses its two 16-byte lanes, which such blocks do:
// its set shares the SSSE3 kernels for them.
const KernelSet kKernelSets[] = {
    {PlainBlocks<2>, PlainBlocks<3>, PlainBlocks<4>, PlainBlocks<8>, PlainAnyBlocks},
    {Sse2Blocks<2>, PlainBlocks<3>, Sse2Blocks<4>, Sse2Blocks<8>, PlainAnyBlocks},
    {Ssse3Blocks<2>, Ssse3Blocks3, Ssse3Blocks<4>, Ssse3Blocks<8>, Ssse3AnyBlocks},
    {Avx2Blocks<2>, Ssse3Blocks3, Avx2Blocks<4>, Avx2Blocks<8>, Ssse3AnyBlocks},
};

// The extended control register 0: which register sets the operating system saves on a switch.
uint64_t ReadXcr0() {
  uint32_t low = 0;
  uint32_t high = 0;
  __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (uint64_t{high} << 32) | low;
}

struct Support {
  bool sse2 = false;
  bool ssse3 = false;
  bool avx2 = false;
};

Support AskProcessor() {
  Support support;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  // On processors without the cpuid instruction this reports failure: plain code then.
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return support;
  support.sse2 = (edx & bit_SSE2) != 0;
  support.ssse3 = support.sse2 && (ecx & bit_SSSE3) != 0;
  // AVX registers are usable only when the operating system saves them: it must have enabled
  // XSAVE (without which xgetbv itself faults) and set the XMM and YMM bits of XCR0. Windows XP
  // and other systems that predate AVX do neither.
  const bool osSavesYmm = (ecx & bit_OSXSAVE) != 0 && (ecx & bit_AVX) != 0 && (ReadXcr0() & 6) == 6;
  if (support.ssse3 && osSavesYmm && __get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    support.avx2 = (ebx & bit_AVX2) != 0;
  }
  return support;
}

// Asked once; a plain flag rather than a guarded local static keeps the runtime's guard code out.
Support g_support;
bool g_supportKnown = false;

const Support& Supported() {
  if (!g_supportKnown) {
    g_support = AskProcessor();
    g_supportKnown = true;
  }
  return g_support;
}

const KernelSet* g_kernelSet = nullptr;
SwapKernel g_kernel = SwapKernel::kPlain;

const KernelSet& Kernels() {
  if (!g_kernelSet) {
    SwapKernel best = SwapKernel::kAvx2;
    while (!IsSwapKernelSupported(best)) best = static_cast<SwapKernel>(static_cast<int>(best) - 1);
    UseSwapKernel(best);
  }
  return *g_kernelSet;
}

}  // namespace

bool IsSwapKernelSupported(SwapKernel kernel) {
  switch (kernel) {
    case SwapKernel::kPlain:
      return true;
    case SwapKernel::kSse2:
      return Supported().sse2;
    case SwapKernel::kSsse3:
      return Supported().ssse3;
    case SwapKernel::kAvx2:
      return Supported().avx2;
  }
  return false;
}

SwapKernel CurrentSwapKernel() {
  Kernels();
  return g_kernel;
}

bool UseSwapKernel(SwapKernel kernel) {
  if (!IsSwapKernelSupported(kernel)) return false;
  g_kernel = kernel;
  g_kernelSet = &kKernelSets[static_cast<int>(kernel)];
  return true;
}

void SwapBlocks2(unsigned char* buffer, size_t blocks) { Kernels().swap2(buffer, blocks); }
void SwapBlocks4(unsigned char* buffer, size_t blocks) { Kernels().swap4(buffer, blocks); }
void SwapBlocks8(unsigned char* buffer, size_t blocks) { Kernels().swap8(buffer, blocks); }
void SwapBlocks3(unsigned char* buffer, size_t blocks) { Kernels().swap3(buffer, blocks); }

void SwapBlocksOfAnyLength(unsigned char* buffer, size_t blocks, unsigned blockBytes) {
  if (blockBytes >= 2 && blockBytes <= kLongestBlock) Kernels().swapAny(buffer, blocks, blockBytes);
}
