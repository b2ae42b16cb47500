// What the oracle of the end-to-end tests cannot see: which transform each group compiles to (a
// group of one width takes the data sizes' kernels), the field walk that stands in for the
// shuffles on a processor without SSSE3, and pieces far shorter than a group or a segment.
#include "layout.h"

#include <doctest.h>

#include <string>

#include "faulty_file_layer.h"
#include "kernel_restorer.h"
#include "swap_kernels.h"
#include "test_files.h"

namespace {

// The transforms of a layout's segments, one word each ("blocks4 shuffle keep"), and their group
// counts ("*" where a segment fills).
std::string Transforms(const CompiledLayout& layout) {
  std::string words;
  for (size_t i = 0; i < layout.SegmentCount(); ++i) {
    unsigned blockBytes = 0;
    const LayoutTransform transform = layout.TransformOf(i, &blockBytes);
    const SwapSegment& segment = layout.View().segments[i];
    words += i > 0 ? " " : "";
    words += transform == LayoutTransform::kKeep            ? "keep"
             : transform == LayoutTransform::kReverseBlocks ? "blocks" + std::to_string(blockBytes)
             : transform == LayoutTransform::kShuffle       ? "shuffle"
                                                            : "walk";
    words += segment.groups == SwapSegment::kFill ? "x*" : "x" + std::to_string(segment.groups);
  }
  return words;
}

std::string Compiled(const char* text) {
  LayoutOrError compiled = CompileLayout(text);
  REQUIRE_MESSAGE(!compiled.error.Failed(), compiled.error.what);
  return Transforms(compiled.layout);
}

}  // namespace

TEST_CASE("each group compiles to the transform its fields call for") {
  // -datasize 32 and a layout of one repeated 4-byte field are the same segment: the same kernel.
  CHECK(Transforms(BlockLayout(4)) == "blocks4x*");
  CHECK(Compiled("i:*") == "blocks4x*");
  CHECK(Compiled("<3f:*") == "blocks4x*");
  CHECK(Compiled("hHe:*") == "blocks2x*");
  CHECK(Compiled("3r:*") == "blocks3x*");
  CHECK(Compiled("4s7s10s10s 4si2f:*") == "keepx1 shufflex*");
  CHECK(Compiled("4s0i h 2c:3 q") == "shufflex1 keepx3 blocks8x1");
  CHECK(Compiled("i:2 hh:*") == "blocks4x2 blocks2x*");
  // A field wider than a vector is walked; so is a group taken once too long to hold, run by run.
  CHECK(Compiled("17r4s:*") == "walkx*");
  CHECK(Compiled("2000000s i") == "keepx1 blocks4x1");
}

TEST_CASE("the shuffles and the field walk agree, for groups of every shape") {
  if (!IsSwapKernelSupported(SwapKernel::kSsse3)) {
    MESSAGE("SKIPPED: this processor has no SSSE3, so the walk is all it runs");
    return;
  }
  KernelRestorer restorer;
  const char* layouts[] = {"4si2f:*",     "hi:*",          "b3r:*",    "15sh:*",  "16r3s:*",
                           "c2q5s12re:*", "4s7s10s10si:*", "240s2h:*", "30h7s:*", "q16r16rb:*"};
  for (const char* text : layouts) {
    CAPTURE(text);
    LayoutOrError compiled = CompileLayout(text);
    REQUIRE(!compiled.error.Failed());
    REQUIRE(compiled.layout.TransformOf(0) == LayoutTransform::kShuffle);
    const SwapSegment& segment = compiled.layout.View().segments[0];
    for (size_t groups : {1u, 2u, 7u, 33u, 300u}) {
      CAPTURE(groups);
      const Bytes input = RandomBytes(groups * segment.groupBytes, static_cast<uint32_t>(groups));
      Bytes shuffled(input.size()), walked(input.size());
      REQUIRE(UseSwapKernel(SwapKernel::kSsse3));
      segment.transform(segment.program, input.data(), shuffled.data(), input.size());
      REQUIRE(UseSwapKernel(SwapKernel::kPlain));
      segment.transform(segment.program, input.data(), walked.data(), input.size());
      CHECK(shuffled == walked);
      CHECK(shuffled != input);
    }
  }
}

TEST_CASE("in pieces shorter than a group, the swap by a layout is that of whole pieces") {
  TempFolder folder;
  LayoutOrError compiled = CompileLayout("4s7s10s10s i:3 240s2h8r:* 2h");
  REQUIRE(!compiled.error.Failed());
  const Bytes input = RandomBytes(31 + 12 + 252 * 5 + 4, 7);
  WriteBytes(folder.Path("in.bin"), input);
  FaultyFileLayer whole{Faults()};
  REQUIRE(SwapFile(whole, folder.Path("in.bin").c_str(), folder.Path("whole.bin").c_str(),
                   compiled.layout.View())
              .Succeeded());
  for (uint32_t pieceBytes : {1u, 5u, 16u, 100u, 300u}) {
    CAPTURE(pieceBytes);
    Faults faults;
    faults.pieceBytes = pieceBytes;
    faults.largestWholeWrite = 1;
    FaultyFileLayer files{faults};
    REQUIRE(SwapFile(files, folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(),
                     compiled.layout.View())
                .Succeeded());
    CHECK(ReadBytes(folder.Path("out.bin")) == ReadBytes(folder.Path("whole.bin")));
    // A piece holds a group whole: two buffers of the longest at most, besides the pieces.
    CHECK(files.largestAllocated <= std::max<size_t>(pieceBytes, 252));
  }
}
