// Each block-reversal kernel this processor can run, against the reference: every start alignment,
// lengths around the vector widths and unrolled steps, and a tail that is not a whole block, with
// guard bytes on both sides that must not change.
#include "swap_kernels.h"

#include <doctest.h>

#include "kernel_restorer.h"
#include "swap.h"
#include "swap_block.h"
#include "test_files.h"

namespace {

struct KernelName {
  SwapKernel kernel;
  const char* name;
};

const KernelName kKernels[] = {
    {SwapKernel::kPlain, "plain"},
    {SwapKernel::kSse2, "SSE2"},
    {SwapKernel::kSsse3, "SSSE3"},
    {SwapKernel::kAvx2, "AVX2"},
};

// What SwapBlocks must leave: the whole blocks reversed where this build reverses that length, a
// partial block at the end untouched.
Bytes Expected(const Bytes& input, unsigned blockBytes) {
  const size_t whole = input.size() - input.size() % blockBytes;
  Bytes expected = SwappedHere(Bytes(input.begin(), input.begin() + whole), blockBytes);
  expected.insert(expected.end(), input.begin() + whole, input.end());
  return expected;
}

// A second opinion on what this processor and system support, from the compiler's runtime rather
// than the program's own asking; for AVX2 it too asks whether the system saves the YMM registers.
SwapKernel FastestSupportedKernel() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SwapKernel::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return SwapKernel::kSsse3;
  if (__builtin_cpu_supports("sse2")) return SwapKernel::kSse2;
  return SwapKernel::kPlain;
}

}  // namespace

TEST_CASE("the kernel chosen at start is the fastest one this processor supports") {
  const SwapKernel fastest = FastestSupportedKernel();
  CHECK(CurrentSwapKernel() == fastest);
  for (const KernelName& k : kKernels) {
    INFO(k.name);
    CHECK(IsSwapKernelSupported(k.kernel) == (k.kernel <= fastest));
  }
}

TEST_CASE("every supported kernel matches the reference at every alignment and length") {
  KernelRestorer restorer;
  constexpr size_t kGuard = 40;
  const unsigned char kGuardByte = 0xA5;
  for (const KernelName& k : kKernels) {
    CAPTURE(k.name);
    if (!UseSwapKernel(k.kernel)) {
      MESSAGE("kernel not supported here, not tested: " << k.name);
      continue;
    }
    REQUIRE(CurrentSwapKernel() == k.kernel);
    uint32_t seed = 100;
    for (unsigned blockBytes :
         {2u, 4u, 8u, 3u, 5u, 6u, 7u, 9u, 15u, 16u, 17u, 31u, 32u, 100u, 128u, 1u, 129u}) {
      CAPTURE(blockBytes);
      for (size_t offset = 0; offset < 33; ++offset) {
        for (size_t size : {0u,  1u,  2u,   7u,   8u,   15u,  16u,  17u,  31u,  32u,   33u,  63u,
                            64u, 65u, 127u, 128u, 129u, 130u, 255u, 256u, 257u, 1000u, 4099u}) {
          CAPTURE(offset);
          CAPTURE(size);
          const Bytes input = RandomBytes(size, ++seed);
          Bytes buffer(kGuard + offset + size + kGuard, kGuardByte);
          std::copy(input.begin(), input.end(), buffer.begin() + kGuard + offset);
          SwapBlocks(buffer.data() + kGuard + offset, size, blockBytes);

          Bytes expected(kGuard + offset, kGuardByte);
          const Bytes body = Expected(input, blockBytes);
          expected.insert(expected.end(), body.begin(), body.end());
          expected.insert(expected.end(), kGuard, kGuardByte);
          REQUIRE(buffer == expected);
        }
      }
    }
  }
}

TEST_CASE("every supported kernel agrees with SwapBlock on a large buffer") {
  KernelRestorer restorer;
  const Bytes input = RandomBytes((size_t{1} << 20) + 24, 77);
  for (const KernelName& k : kKernels) {
    CAPTURE(k.name);
    if (!UseSwapKernel(k.kernel)) continue;
    for (unsigned blockBytes : {2u, 4u, 8u}) {
      CAPTURE(blockBytes);
      Bytes viaKernel = input;
      SwapBlocks(viaKernel.data() + 8, viaKernel.size() - 8, blockBytes);
      Bytes viaBlock = input;
      for (size_t at = 8; at + blockBytes <= viaBlock.size(); at += blockBytes) {
        SwapBlock(viaBlock.data() + at, blockBytes);
      }
      CHECK(viaKernel == viaBlock);
    }
  }
}
