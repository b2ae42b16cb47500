// Puts the kernel chosen at start back when a test has forced another one.
#pragma once

#include "swap_kernels.h"

class KernelRestorer {
 public:
  KernelRestorer() : chosen_(CurrentSwapKernel()) {}
  ~KernelRestorer() { UseSwapKernel(chosen_); }
  KernelRestorer(const KernelRestorer&) = delete;
  KernelRestorer& operator=(const KernelRestorer&) = delete;

 private:
  SwapKernel chosen_;
};
