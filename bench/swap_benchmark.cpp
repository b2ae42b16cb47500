// The in-memory swap of one buffer, for each kernel this processor runs and block lengths of each
// path (2, 4 and 8 bytes; 3; and the general one for other lengths, short and long), on a
// buffer that fits the L2 cache and on one of 256 MiB that only memory holds; against memcpy of the
// same buffer into another, and against one SwapBlock call per block. Natively also the records of
// a layout of mixed fields, permuted from one piece-sized buffer into another.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "layout.h"
#include "swap.h"
#include "swap_block.h"
#include "swap_kernels.h"

namespace {

const char* const kKernelNames[] = {"plain", "SSE2", "SSSE3", "AVX2"};
constexpr size_t kLarge = size_t{256} << 20;

// Half the L2 cache, so that the buffer and whatever else runs stay in it.
size_t L2Sized() {
  const long l2 = sysconf(_SC_LEVEL2_CACHE_SIZE);
  return l2 > 0 ? static_cast<size_t>(l2) / 2 : size_t{256} << 10;
}

std::vector<unsigned char> Filled(size_t size) {
  std::vector<unsigned char> buffer(size);
  for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);
  return buffer;
}

// Arguments: kernel, block length, buffer size.
void BM_SwapBlocks(benchmark::State& state) {
  const auto kernel = static_cast<SwapKernel>(state.range(0));
  const auto blockBytes = static_cast<unsigned>(state.range(1));
  const auto size = static_cast<size_t>(state.range(2));
  const SwapKernel chosen = CurrentSwapKernel();
  if (!UseSwapKernel(kernel)) {
    state.SkipWithError("kernel not supported on this processor");
    return;
  }
  std::vector<unsigned char> buffer = Filled(size);
  for (auto _ : state) {
    SwapBlocks(buffer.data(), size, blockBytes);
    benchmark::ClobberMemory();
  }
  UseSwapKernel(chosen);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.SetLabel(kKernelNames[state.range(0)]);
}

void BM_SwapBlockEach(benchmark::State& state) {
  const auto blockBytes = static_cast<unsigned>(state.range(0));
  const auto size = static_cast<size_t>(state.range(1));
  std::vector<unsigned char> buffer = Filled(size);
  for (auto _ : state) {
    for (size_t at = 0; at < size; at += blockBytes) SwapBlock(buffer.data() + at, blockBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Memcpy(benchmark::State& state) {
  const auto size = static_cast<size_t>(state.range(0));
  std::vector<unsigned char> from = Filled(size);
  std::vector<unsigned char> to = Filled(size);
  for (auto _ : state) {
    memcpy(to.data(), from.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void KernelArguments(benchmark::internal::Benchmark* b) {
  for (int64_t size : {static_cast<int64_t>(L2Sized()), static_cast<int64_t>(kLarge)}) {
    for (int kernel = 0; kernel < 4; ++kernel) {
      if (!IsSwapKernelSupported(static_cast<SwapKernel>(kernel))) continue;
      for (int64_t blockBytes : {2, 4, 8, 3, 6, 16, 128}) b->Args({kernel, blockBytes, size});
    }
  }
}

void BlockArguments(benchmark::internal::Benchmark* b) {
  for (int64_t size : {static_cast<int64_t>(L2Sized()), static_cast<int64_t>(kLarge)}) {
    for (int64_t blockBytes : {2, 4, 8}) b->Args({blockBytes, size});
  }
}

void SizeArguments(benchmark::internal::Benchmark* b) {
  b->Arg(static_cast<int64_t>(L2Sized()));
  b->Arg(static_cast<int64_t>(kLarge));
}

// Argument: which record, 0 for '4si2f' (16 bytes), 1 for a 240-byte one; a piece of 256 KiB of
// whole records.
void BM_PermuteRecords(benchmark::State& state) {
  const char* const records[] = {"4si2f:*", "7i4h8i2h4i46h5i2h8s2d3f:*"};
  LayoutOrError compiled = CompileLayout(records[state.range(0)]);
  const SwapSegment& segment = compiled.layout.View().segments[0];
  const size_t size = (size_t{256} << 10) / segment.groupBytes * segment.groupBytes;
  const std::vector<unsigned char> from = Filled(size);
  std::vector<unsigned char> to(size);
  for (auto _ : state) {
    segment.transform(segment.program, from.data(), to.data(), size);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
  state.SetLabel(records[state.range(0)]);
}

BENCHMARK(BM_SwapBlocks)->Apply(KernelArguments)->ArgNames({"kernel", "block", "bytes"});
BENCHMARK(BM_SwapBlockEach)->Apply(BlockArguments)->ArgNames({"block", "bytes"});
BENCHMARK(BM_Memcpy)->Apply(SizeArguments)->ArgNames({"bytes"});
BENCHMARK(BM_PermuteRecords)->Arg(0)->Arg(1)->ArgNames({"record"});

}  // namespace

BENCHMARK_MAIN();
