// A layout's text read into groups of fields, and the groups compiled into the segments the swap
// applies. Consecutive fields of one kind are read as one run (`hH` is two 2-byte fields reversed,
// `4sB` five bytes kept), so that a group of one width is told at once and takes the kernels of the
// data sizes; consecutive groups taken once are one group, swapped in one piece.
#include "layout.h"

#include <cctype>
#include <cstdio>

namespace {

// Consecutive fields of a group alike: `fields` fields of `fieldBytes` reversed, or, kept, their
// bytes (`fieldBytes` 1).
struct Run {
  uint64_t fieldBytes;
  uint64_t fields;
  bool reversed;
  uint64_t Bytes() const { return fieldBytes * fields; }
};

struct Group {
  std::vector<Run> runs;
  uint64_t bytes = 0;
  uint64_t count = 1;
  bool fills = false;
};

// The longest reversed field, `Nr`, as the longest block of a data size.
constexpr uint64_t kLongestField = kLargestDataSizeBits / 8;
constexpr uint64_t kShortestField = kSmallestDataSizeBits / 8;

// Adds a run after the others, as part of the last where it is alike; a run of no bytes is none.
void AddRun(std::vector<Run>* runs, const Run& run) {
  if (run.Bytes() == 0) return;
  if (!runs->empty()) {
    Run& last = runs->back();
    if (!run.reversed && !last.reversed) {
      last.fields += run.Bytes();
      return;
    }
    if (run.reversed && last.reversed && run.fieldBytes == last.fieldBytes) {
      last.fields += run.fields;
      return;
    }
  }
  runs->push_back(run);
}

// A character as a message shows it.
std::string Shown(char c) {
  if (c > 0x20 && c < 0x7F) return std::string("'") + c + "'";
  char escaped[8];
  snprintf(escaped, sizeof escaped, "'\\x%02x'", static_cast<unsigned char>(c));
  return escaped;
}

class LayoutReader {
 public:
  LayoutReader(const std::string& text, LayoutSource source) : text_(text), source_(source) {}

  /// The groups of the text; false, with the error set, where it is no layout.
  bool Read(std::vector<Group>* groups) {
    SkipBlanks();
    if (At() == '<' || At() == '>' || At() == '!' || At() == '=') ++at_;
    size_t fills = 0;
    uint64_t fixedBytes = 0;
    for (SkipBlanks(); at_ < text_.size(); SkipBlanks()) {
      const size_t start = at_;
      Group group;
      if (!ReadGroup(&group)) return false;
      if (group.bytes == 0) return Fail("the group " + Where(start) + " takes no bytes");
      if (group.fills && ++fills > 1)
        return Fail("a second '*' group " + Where(start) + ": one group at most fills the rest");
      if ((group.fills || group.count > 1) && group.runs.size() > 1 &&
          group.bytes > kLongestRepeatedGroup)
        return Fail("the group " + Where(start) + " is " + std::to_string(group.bytes) +
                    " bytes of mixed fields, more than the " +
                    std::to_string(kLongestRepeatedGroup) + " a repeated group may take");
      uint64_t bytes = 0;
      if (!group.fills &&
          (__builtin_mul_overflow(group.bytes, group.count, &bytes) ||
           __builtin_add_overflow(fixedBytes, bytes, &fixedBytes) || fixedBytes == UINT64_MAX))
        return Fail("the group " + Where(start) + " makes the layout too long");
      groups->push_back(group);
    }
    if (groups->empty()) return Fail("it has no fields");
    // Groups taken 0 times are left out; a layout of nothing else would cover nothing.
    if (fills == 0 && fixedBytes == 0) return Fail("it takes no bytes: each group is taken 0 times");
    return true;
  }

  const LayoutError& Error() const { return error_; }

 private:
  char At() const { return at_ < text_.size() ? text_[at_] : '\0'; }
  bool IsBlank(char c) const { return c == ' ' || (c >= '\t' && c <= '\r'); }
  bool IsComment(char c) const { return c == '#' && source_ == LayoutSource::kFile; }
  // Where the group ends: a blank, a comment, or the end.
  bool AtGroupEnd() const {
    return at_ >= text_.size() || IsBlank(text_[at_]) || IsComment(text_[at_]);
  }

  void SkipBlanks() {
    while (at_ < text_.size()) {
      if (IsComment(text_[at_])) {
        while (at_ < text_.size() && text_[at_] != '\n') ++at_;
      } else if (IsBlank(text_[at_])) {
        ++at_;
      } else {
        break;
      }
    }
  }

  // "at character N", counted from 1; in a file, with its line.
  std::string Where(size_t at) const {
    if (source_ == LayoutSource::kArgument) return "at character " + std::to_string(at + 1);
    size_t line = 1, lineStart = 0;
    for (size_t k = 0; k < at; ++k) {
      if (text_[k] == '\n') {
        ++line;
        lineStart = k + 1;
      }
    }
    return "at line " + std::to_string(line) + ", character " + std::to_string(at - lineStart + 1);
  }

  bool Fail(const std::string& what) {
    error_.what = what;
    return false;
  }

  // A decimal count at the current character.
  bool ReadCount(uint64_t* count) {
    const size_t start = at_;
    *count = 0;
    for (; isdigit(static_cast<unsigned char>(At())); ++at_) {
      if (__builtin_mul_overflow(*count, 10, count) ||
          __builtin_add_overflow(*count, static_cast<uint64_t>(At() - '0'), count))
        return Fail("the count " + Where(start) + " is too large");
    }
    return true;
  }

  bool ReadGroup(Group* group) {
    const size_t start = at_;
    while (!AtGroupEnd() && At() != ':') {
      if (!ReadField(group)) return false;
    }
    if (At() != ':') return true;
    if (at_ == start) return Fail("':' " + Where(at_) + " follows no field");
    ++at_;
    const size_t countAt = at_;
    if (At() == '*') {
      group->fills = true;
      ++at_;
    } else if (isdigit(static_cast<unsigned char>(At()))) {
      if (!ReadCount(&group->count)) return false;
    } else {
      return Fail("a count or '*' must follow ':' " + Where(countAt));
    }
    if (!AtGroupEnd())
      return Fail("unexpected " + Shown(At()) + " " + Where(at_) + " after the group's count");
    return true;
  }

  bool ReadField(Group* group) {
    const size_t start = at_;
    const bool counted = isdigit(static_cast<unsigned char>(At()));
    uint64_t count = 1;
    if (counted && !ReadCount(&count)) return false;
    const char letter = At();
    if (AtGroupEnd() || letter == ':')
      return Fail("the count '" + text_.substr(start, at_ - start) + "' " + Where(start) +
                  " is followed by no field");
    const size_t letterAt = at_++;
    Run run{1, count, false};
    switch (letter) {
      case 'x':
      case 'c':
      case 'b':
      case 'B':
      case '?':
      case 's':
      case 'p':
        break;
      case 'h':
      case 'H':
      case 'e':
        run = Run{2, count, true};
        break;
      case 'i':
      case 'I':
      case 'l':
      case 'L':
      case 'f':
        run = Run{4, count, true};
        break;
      case 'q':
      case 'Q':
      case 'd':
        run = Run{8, count, true};
        break;
      case 'r':
        if (!counted || count < kShortestField || count > kLongestField)
          return Fail("'r' " + Where(letterAt) + " needs its length before it, from " +
                      std::to_string(kShortestField) + " to " + std::to_string(kLongestField) +
                      " bytes ('3r' is one 3-byte field)");
        run = Run{count, 1, true};
        break;
      case 'n':
      case 'N':
      case 'P':
        return Fail(Shown(letter) + " " + Where(letterAt) +
                    " is a native size, not taken: it depends on the compiler that wrote the file");
      case '@':
        return Fail("'@' " + Where(letterAt) +
                    " is not taken: fields are never aligned or padded, as after '<', '>', '!' or "
                    "'='");
      case '<':
      case '>':
      case '!':
      case '=':
        return Fail(Shown(letter) + " " + Where(letterAt) +
                    " is taken only at the very start of the layout");
      default:
        return Fail("unknown field " + Shown(letter) + " " + Where(letterAt));
    }
    uint64_t bytes;
    if (__builtin_mul_overflow(run.fieldBytes, run.fields, &bytes) ||
        __builtin_add_overflow(group->bytes, bytes, &group->bytes))
      return Fail("the field " + Where(start) + " makes its group too long");
    AddRun(&group->runs, run);
    return true;
  }

  const std::string& text_;
  LayoutSource source_;
  size_t at_ = 0;
  LayoutError error_;
};

}  // namespace

// Compiles groups into a layout's segments and programs.
class LayoutCompiler {
 public:
  static CompiledLayout Compile(const std::vector<Group>& groups) {
    CompiledLayout layout;
    // Consecutive groups taken once are one group.
    Group once;
    for (const Group& group : groups) {
      if (!group.fills && group.count == 1) {
        for (const Run& run : group.runs) AddRun(&once.runs, run);
        once.bytes += group.bytes;
        continue;
      }
      Add(once, &layout);
      once = Group();
      Add(group, &layout);
    }
    Add(once, &layout);
    layout.span_ = SpanOf(layout.segments_.data(), layout.segments_.size());
    return layout;
  }

 private:
  static void Add(const Group& group, CompiledLayout* layout) {
    if (group.bytes == 0 || group.count == 0) return;
    const uint64_t groups = group.fills ? SwapSegment::kFill : group.count;
    // One kind of field: kept, or blocks of one length reversed by the data sizes' kernels. So is
    // each run of a group taken once that is too long to be held whole.
    if (group.runs.size() == 1) {
      layout->segments_.push_back(Segment(group.bytes, groups, group.runs[0]));
      return;
    }
    if (groups == 1 && group.bytes > kLongestRepeatedGroup) {
      for (const Run& run : group.runs) layout->segments_.push_back(Segment(run.Bytes(), 1, run));
      return;
    }
    std::vector<GroupField> fields;
    uint32_t offset = 0;
    for (const Run& run : group.runs) {
      const uint64_t fieldBytes = run.reversed ? run.fieldBytes : run.Bytes();
      for (uint64_t k = 0; k < run.Bytes() / fieldBytes; ++k, offset += fieldBytes)
        fields.push_back(GroupField{offset, static_cast<uint32_t>(fieldBytes), run.reversed});
    }
    OwnedGroupProgram program = MakeGroupProgram(static_cast<uint32_t>(group.bytes), fields);
    SwapSegment segment;
    segment.groupBytes = group.bytes;
    segment.groups = groups;
    segment.transform = PermuteGroups;
    segment.program = program.get();
    layout->segments_.push_back(segment);
    layout->programs_.push_back(std::move(program));
  }

  static SwapSegment Segment(uint64_t groupBytes, uint64_t groups, const Run& run) {
    SwapSegment segment;
    segment.groupBytes = groupBytes;
    segment.groups = groups;
    segment.reverseBytes = run.reversed ? static_cast<unsigned>(run.fieldBytes) : 0;
    return segment;
  }
};

CompiledLayout::CompiledLayout() = default;
CompiledLayout::CompiledLayout(CompiledLayout&&) noexcept = default;
CompiledLayout& CompiledLayout::operator=(CompiledLayout&&) noexcept = default;
CompiledLayout::~CompiledLayout() = default;

LayoutTransform CompiledLayout::TransformOf(size_t index, unsigned* blockBytes) const {
  const SwapSegment& segment = segments_[index];
  if (blockBytes) *blockBytes = segment.reverseBytes;
  if (segment.reverseBytes) return LayoutTransform::kReverseBlocks;
  if (!segment.transform) return LayoutTransform::kKeep;
  return IsShuffleProgram(*static_cast<const GroupProgram*>(segment.program))
             ? LayoutTransform::kShuffle
             : LayoutTransform::kFieldWalk;
}

LayoutOrError CompileLayout(const std::string& text, LayoutSource source) {
  LayoutOrError result;
  std::vector<Group> groups;
  LayoutReader reader(text, source);
  if (reader.Read(&groups)) {
    result.layout = LayoutCompiler::Compile(groups);
  } else {
    result.error = reader.Error();
  }
  return result;
}

CompiledLayout BlockLayout(unsigned blockBytes) {
  Group group;
  group.runs.push_back(Run{blockBytes, 1, true});
  group.bytes = blockBytes;
  group.fills = true;
  return LayoutCompiler::Compile({group});
}
