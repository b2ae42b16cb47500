// The 2-, 4- and 8-byte kernels, one per instruction set, and the choice among them, made once, at
// first use (the Windows toolchain has no ifunc). Every program links these; the kernels for other
// lengths are in swap_kernels_wide.cpp, which only the native program links.
//
// They work on 16 or 32 bytes at a time through unaligned loads and stores. As 16 and 32 are
// multiples of those block lengths, a vector never splits a block, whatever the buffer's alignment;
// the tail shorter than a vector goes through the plain code.
#include "swap_kernels.h"

#include <cpuid.h>
#include <immintrin.h>

#include <cstdint>

#include "swap_kernels_shared.h"

namespace {

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

struct KernelSet {
  void (*swap2)(unsigned char*, size_t);
  void (*swap4)(unsigned char*, size_t);
  void (*swap8)(unsigned char*, size_t);
};

// Indexed by SwapKernel.
const KernelSet kKernelSets[] = {
    {PlainBlocks<2>, PlainBlocks<4>, PlainBlocks<8>},
    {Sse2Blocks<2>, Sse2Blocks<4>, Sse2Blocks<8>},
    {Ssse3Blocks<2>, Ssse3Blocks<4>, Ssse3Blocks<8>},
    {Avx2Blocks<2>, Avx2Blocks<4>, Avx2Blocks<8>},
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

// Out of line, so that each caller of Kernels() stays one test and one call.
__attribute__((noinline)) void UseFastestKernel() {
  SwapKernel best = SwapKernel::kAvx2;
  while (!IsSwapKernelSupported(best)) best = static_cast<SwapKernel>(static_cast<int>(best) - 1);
  UseSwapKernel(best);
}

const KernelSet& Kernels() {
  if (!g_kernelSet) UseFastestKernel();
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
