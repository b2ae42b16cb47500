// The loops that reverse many blocks of one buffer at once. Several instruction sets can do it; the
// fastest one that both the processor and the operating system support is chosen on first use.
#pragma once

#include <cstddef>

/// The instruction sets a kernel may use, slowest first.
enum class SwapKernel { kPlain, kSse2, kSsse3, kAvx2 };

/// True when this processor and operating system can run the kernel.
bool IsSwapKernelSupported(SwapKernel kernel);

/// The kernel in use: the fastest supported one, unless UseSwapKernel chose another.
SwapKernel CurrentSwapKernel();

/// Makes the swap use `kernel` from now on; false, changing nothing, when it is not supported.
/// Tests use it to check each kernel; the program never calls it.
bool UseSwapKernel(SwapKernel kernel);

/// Reverses each of the `blocks` consecutive blocks of 2, 4 or 8 bytes at `buffer` (any alignment).
void SwapBlocks2(unsigned char* buffer, size_t blocks);
void SwapBlocks4(unsigned char* buffer, size_t blocks);
void SwapBlocks8(unsigned char* buffer, size_t blocks);

/// Whether this program reverses blocks of `blockBytes` bytes: the native program every length
/// from 2 to 128 (swap_kernels_wide.cpp), the Windows programs, whose front ends offer 16, 32 and
/// 64 bits, only 2, 4 and 8 (swap_kernels_narrow.cpp). Each program's build links one of the two.
bool HasKernelFor(unsigned blockBytes);

/// Reverses each whole block of `blockBytes` bytes in the `size` bytes at `buffer` (any alignment),
/// for the lengths beyond 2, 4 and 8 that HasKernelFor takes (natively those three too, the slower
/// way); any other length leaves memory unchanged, as does a partial block at the end.
void SwapBlocksOfAnyLength(unsigned char* buffer, size_t size, unsigned blockBytes);
