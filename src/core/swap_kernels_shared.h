// What the kernel files share: unaligned loads and stores, and the attributes that let one function
// use an instruction set that the rest of the program may not assume. The Windows build targets any
// i686 processor, so a vector kernel carries its own target and is called only once the processor
// has been asked.
#pragma once

#include <cstring>

// 32-bit Windows keeps the stack aligned to 4 bytes only; a kernel that spills a vector must align
// its own frame first.
#if defined(__i386__)
#define ORVANE_TARGET(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define ORVANE_TARGET(isa) __attribute__((target(isa)))
#endif
#define ORVANE_INLINE_TARGET(isa) __attribute__((target(isa), always_inline)) inline

// Blocks need not be aligned: load and store through memcpy, which compiles to plain moves.
template <typename T>
T Load(const void* p) {
  T value;
  memcpy(&value, p, sizeof value);
  return value;
}

template <typename T>
void Store(void* p, T value) {
  memcpy(p, &value, sizeof value);
}
