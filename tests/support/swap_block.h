// One block reversed at a time, the plain way: what the tests and the benchmark hold the swap's
// kernels to.
#pragma once

#include <cstdint>
#include <cstring>

/// Reverses the bytes of one block in place when `blockBytes` is 2, 4 or 8; any other length, or a
/// null block, leaves memory unchanged. `block` may have any alignment.
inline void SwapBlock(void* block, unsigned blockBytes) {
  if (!block) return;
  unsigned char bytes[8];
  if (blockBytes != 2 && blockBytes != 4 && blockBytes != 8) return;
  memcpy(bytes, block, blockBytes);
  for (unsigned i = 0; i < blockBytes; ++i)
    static_cast<unsigned char*>(block)[i] = bytes[blockBytes - 1 - i];
}
