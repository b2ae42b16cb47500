// A line on standard error, when it is a terminal, telling how far long work has come: drawn only
// once the work has run for about a second, redrawn a few times a second, erased when it ends or
// before anything else is said there, so that a finished run leaves only what it always left.
#pragma once

#include <cstddef>
#include <cstdint>

#include "swap.h"

class Progress {
 public:
  /// Work on `files` inputs (more than one: "file K of N" is shown) of `total` bytes in all, 0
  /// where unknown (a stream, or each input's size, as the swap tells it). Draws nothing unless
  /// standard error is a terminal.
  Progress(size_t files, uint64_t total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() { Erase(); }

  /// The options of a swap of the input numbered `index` (from 0), telling this line of its pieces.
  SwapOptions For(size_t index, const SwapRange& range);
  /// Removes the line, where it is drawn.
  void Erase();

 private:
  static void Advanced(void* self, uint64_t done, uint64_t size);
  void Draw(uint64_t done, uint64_t total, int64_t elapsed);

  bool shown_;
  bool drawn_ = false;
  size_t files_;
  size_t index_ = 0;
  uint64_t total_;
  uint64_t finished_ = 0;  // the bytes of the inputs before this one
  uint64_t current_ = 0;   // of this one
  int64_t start_;
  int64_t next_;  // when the line is next drawn, in milliseconds
};
