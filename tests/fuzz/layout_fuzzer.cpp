// Layout texts, as a user or a layout file may give them, through the compiler. The first byte
// picks the source (even: an argument, odd: a file); the text runs to the first NUL, and what
// follows seeds the bytes swapped. Properties: a refusal says why on one line that no terminal
// obeys (printable characters only); a layout compiled is one the swap takes, and applied twice to
// its groups (the fixed ones and two of the one that fills) gives the bytes back, each field being
// reversed or kept.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "layout.h"

namespace {

constexpr uint64_t kLargestTried = 1 << 16;

void Require(bool condition) {
  if (!condition) abort();
}

// Each segment of `layout` applied to its part of `bytes`, as the swap applies it.
void Apply(const SwapLayout& layout, std::vector<unsigned char>* bytes) {
  std::vector<unsigned char> out(bytes->size());
  size_t at = 0;
  for (size_t i = 0; i < layout.count; ++i) {
    const SwapSegment& segment = layout.segments[i];
    const uint64_t groups = segment.groups == SwapSegment::kFill ? 2 : segment.groups;
    const size_t size = static_cast<size_t>(groups * segment.groupBytes);
    unsigned char* part = bytes->data() + at;
    if (segment.reverseBytes != 0) {
      SwapBlocks(part, size, segment.reverseBytes);
    } else if (segment.transform) {
      segment.transform(segment.program, part, out.data(), size);
      std::copy(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size), part);
    }
    at += size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const size_t length = strnlen(text, size - 1);
  const LayoutSource source = data[0] % 2 == 0 ? LayoutSource::kArgument : LayoutSource::kFile;
  const LayoutOrError compiled = CompileLayout(std::string(text, length), source);
  if (compiled.error.Failed()) {
    for (const char c : compiled.error.what) Require(c >= 0x20 && c < 0x7F);
    return 0;
  }
  const SwapLayout layout = compiled.layout.View();
  Require(IsValidLayout(layout));
  const uint64_t total = layout.span.fixedBytes + 2 * layout.span.fillGroupBytes;
  if (total > kLargestTried) return 0;
  std::vector<unsigned char> original(static_cast<size_t>(total));
  const uint8_t* seed = data + 1 + std::min(length + 1, size - 1);
  const size_t seeded = static_cast<size_t>(data + size - seed);
  for (size_t i = 0; i < original.size(); ++i)
    original[i] = static_cast<unsigned char>(seeded ? seed[i % seeded] + i / seeded : i * 7);
  std::vector<unsigned char> bytes = original;
  Apply(layout, &bytes);
  Apply(layout, &bytes);
  Require(bytes == original);
  return 0;
}
