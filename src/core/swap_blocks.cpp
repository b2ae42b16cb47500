// Block reversal in memory, and the checks of a data size and of a file's size, which every front
// end shares with the file swap. SwapBlocks hands each length to its kernel; which lengths have one
// is the choice of each program's build (HasKernelFor), and a data size is valid only where its
// blocks have a kernel, so that no swap succeeds with its blocks left as they were.
#include <cstdint>

#include "swap.h"
#include "swap_kernels.h"
#include "swap_kernels_shared.h"

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
    default:
      SwapBlocksOfAnyLength(buffer, size, blockBytes);
      break;
  }
}

bool IsValidDataSize(unsigned dataSizeBits) {
  return dataSizeBits % 8 == 0 && dataSizeBits >= kSmallestDataSizeBits &&
         dataSizeBits <= kLargestDataSizeBits && HasKernelFor(dataSizeBits / 8);
}

bool IsSwappableSize(uint64_t size, unsigned blockBytes) {
  return size != 0 && blockBytes != 0 && size % blockBytes == 0;
}
