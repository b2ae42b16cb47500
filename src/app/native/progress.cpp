#include "progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t kFirstDrawMs = 1000;
constexpr int64_t kRedrawMs = 250;

// A coarse clock: read once a piece, it must cost next to nothing.
int64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// `bytes` in the largest binary unit that keeps it at or above 1, one decimal.
void Size(char* text, size_t room, double bytes) {
  static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  size_t unit = 0;
  for (; bytes >= 1024 && unit + 1 < sizeof kUnits / sizeof *kUnits; ++unit) bytes /= 1024;
  snprintf(text, room, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
}

void Say(const char* text, size_t length) {
  // The line is a courtesy: a write it cannot make changes nothing of the work.
  if (write(2, text, length) < 0) return;
}

}  // namespace

Progress::Progress(size_t files, uint64_t total)
    : shown_(isatty(STDERR_FILENO) == 1),
      files_(files),
      total_(total),
      start_(NowMs()),
      next_(start_ + kFirstDrawMs) {}

SwapOptions Progress::For(size_t index, const SwapRange& range) {
  finished_ += current_;
  current_ = 0;
  index_ = index;
  SwapOptions options;
  options.range = range;
  if (shown_) {
    options.progress = &Progress::Advanced;
    options.context = this;
  }
  return options;
}

void Progress::Advanced(void* self, uint64_t done, uint64_t size) {
  auto* progress = static_cast<Progress*>(self);
  progress->current_ = done;
  const int64_t now = NowMs();
  if (now < progress->next_) return;
  progress->next_ = now + kRedrawMs;
  const uint64_t total = progress->total_ != 0 ? progress->total_ : size;
  progress->Draw(progress->finished_ + done, total, now - progress->start_);
}

void Progress::Draw(uint64_t done, uint64_t total, int64_t elapsed) {
  const double rate = elapsed > 0 ? done * 1000.0 / elapsed : 0;
  char doneText[24], totalText[24], rateText[24], line[160];
  Size(doneText, sizeof doneText, done);
  Size(rateText, sizeof rateText, rate);
  int length;
  if (total >= done && total != 0) {
    Size(totalText, sizeof totalText, total);
    const uint64_t left = rate > 0 ? static_cast<uint64_t>((total - done) / rate) : 0;
    length = snprintf(line, sizeof line,
                      "\r%s of %s (%" PRIu64 "%%), %s/s, %" PRIu64 ":%02" PRIu64 " left", doneText,
                      totalText, done * 100 / total, rateText, left / 60, left % 60);
  } else {
    length = snprintf(line, sizeof line, "\r%s, %s/s", doneText, rateText);
  }
  if (files_ > 1 && length > 0 && static_cast<size_t>(length) < sizeof line)
    length +=
        snprintf(line + length, sizeof line - length, ", file %zu of %zu", index_ + 1, files_);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof line - 4) return;
  // Cleared to the end of the line: a shorter line leaves nothing of a longer one.
  length += snprintf(line + length, sizeof line - length, "\033[K");
  Say(line, static_cast<size_t>(length));
  drawn_ = true;
}

void Progress::Erase() {
  if (!drawn_) return;
  Say("\r\033[K", 4);
  drawn_ = false;
}
