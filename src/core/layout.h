// Layouts of mixed fields, the native program's alone: the text (groups of fields in Python's
// struct letters, each group once, COUNT times or filling the rest) read and compiled once into the
// segments the swap applies (SwapLayout). A group of one width becomes reversed blocks, swapped by
// the kernels of the data sizes; a group of mixed fields a byte permutation of the group, applied
// with vector shuffles (layout_kernels.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "swap.h"

/// Why a text is not a layout: what is wrong and where, as a message shows it ("unknown field 'z'
/// at character 5").
struct LayoutError {
  std::string what;
  bool Failed() const { return !what.empty(); }
};

/// How a segment of a compiled layout is swapped: kept as it is, each block of `blockBytes`
/// reversed by SwapBlocks (the kernels of -datasize), a permutation of each group applied with
/// vector shuffles, or the group's fields walked one by one (a field wider than a vector, or a
/// group too long for a shuffle program).
enum class LayoutTransform { kKeep, kReverseBlocks, kShuffle, kFieldWalk };

/// The program of a group of mixed fields, made by layout_kernels.cpp, and its owner.
struct GroupProgram;
struct GroupProgramDeleter {
  void operator()(GroupProgram* program) const;
};
using OwnedGroupProgram = std::unique_ptr<GroupProgram, GroupProgramDeleter>;

/// A layout compiled into segments, and the programs they name, which it owns.
class CompiledLayout {
 public:
  CompiledLayout();
  CompiledLayout(CompiledLayout&&) noexcept;
  CompiledLayout& operator=(CompiledLayout&&) noexcept;
  ~CompiledLayout();

  /// The segments, for the swap; valid while this layout is.
  SwapLayout View() const { return SwapLayout{segments_.data(), segments_.size(), span_}; }
  const LayoutSpan& Span() const { return span_; }
  size_t SegmentCount() const { return segments_.size(); }
  /// How segment `index` is swapped, and the block length where it is kReverseBlocks.
  LayoutTransform TransformOf(size_t index, unsigned* blockBytes = nullptr) const;

 private:
  friend class LayoutCompiler;
  std::vector<SwapSegment> segments_;
  LayoutSpan span_;
  std::vector<OwnedGroupProgram> programs_;
};

/// A layout compiled from its text, or why the text is none.
struct LayoutOrError {
  CompiledLayout layout;
  LayoutError error;
};

/// Where a layout's text comes from: the command line, where blanks separate groups; or a file,
/// where newlines do too and `#` starts a comment to the end of the line, and where the error says
/// the line.
enum class LayoutSource { kArgument, kFile };

/// Reads and compiles `text`. Fields: `x c b B ?` one byte and `Ns Np` N bytes, kept; `h H e` 2
/// bytes, `i I l L f` 4, `q Q d` 8, `Nr` N from 2 to 128, reversed; a count before any other
/// letter repeats the field. A group is fields without blanks, then `:COUNT` or `:*` (at most one
/// group). A leading `<`, `>`, `!` or `=` is taken and ignored; no field is ever padded.
LayoutOrError CompileLayout(const std::string& text, LayoutSource source = LayoutSource::kArgument);

/// The layout of a data size: blocks of `blockBytes` reversed, filling the range, as `Nr:*`.
CompiledLayout BlockLayout(unsigned blockBytes);

/// The longest repeated group of mixed fields: a piece of the swap holds one whole.
constexpr uint64_t kLongestRepeatedGroup = 1u << 20;

// The kernels, in layout_kernels.cpp. A field of a group: `bytes` at `offset`, reversed or kept.
struct GroupField {
  uint32_t offset;
  uint32_t bytes;
  bool reversed;
};

/// The program that permutes each group of `groupBytes` bytes made of `fields` (in order, covering
/// it): vector shuffles where every reversed field is 16 bytes or shorter and the group not too
/// long for them, a walk of the fields otherwise.
OwnedGroupProgram MakeGroupProgram(uint32_t groupBytes, const std::vector<GroupField>& fields);
/// True when the program uses vector shuffles (on a processor with SSSE3).
bool IsShuffleProgram(const GroupProgram& program);
/// Writes the `size` bytes at `in`, whole groups, into `out` with each group permuted: the
/// segment's transform (SwapSegment::transform).
void PermuteGroups(const void* program, const unsigned char* in, unsigned char* out, size_t size);
