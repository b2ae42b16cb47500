// The Windows programs' kernels for the lengths other than 2, 4 and 8 bytes: none. Their front ends
// offer 16, 32 and 64 bits only, and a program that carries no kernel for a length refuses it as a
// data size (IsValidDataSize) rather than report a swap it did not do.
#include "swap_kernels.h"

bool HasKernelFor(unsigned blockBytes) {
  return blockBytes == 2 || blockBytes == 4 || blockBytes == 8;
}

// SwapBlocks reaches this only for a length without a kernel, which it leaves as it is.
void SwapBlocksOfAnyLength(unsigned char*, size_t, unsigned) {}
