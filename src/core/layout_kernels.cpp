// The permutation of a group of mixed fields, compiled once into a program and applied to every
// group. With SSSE3, each 16 bytes of output are one to three 16-byte loads of input, each
// shuffled into place and the shuffles merged: with fields of 16 bytes at most, the bytes that 16
// bytes of output take lie within 46 bytes of input, which three loads cover. Without it, or where
// a field is wider than a vector, the fields are walked one by one. The program works from one
// buffer into another, so that no load ever sees what a store has changed.
#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "layout.h"
#include "swap_kernels.h"
#include "swap_kernels_shared.h"

namespace {

constexpr unsigned kVector = 16;
constexpr unsigned kMostLoads = 3;
// The smallest unit the shuffles work on, in whole groups: a few vectors, so that the loop over
// units costs little beside them.
constexpr uint32_t kShortestUnit = 128;
// A unit of whole vectors, where the groups make one this short; a longer group is its own unit,
// its last vector pulled back to end with it.
constexpr uint32_t kLongestVectorUnit = 1024;

// 16 bytes of output at `out` within a unit: each the shuffle of the 16 bytes loaded at one of
// `in`, merged.
template <unsigned kLoads>
struct Chunk {
  alignas(16) unsigned char mask[kLoads][kVector];
  uint32_t in[kLoads];
  uint32_t out;
};

}  // namespace

struct GroupProgram {
  uint32_t groupBytes = 0;
  std::vector<GroupField> fields;
  /// The shuffles, where the group takes them: a unit of whole groups, and the chunks that write
  /// it, by how many loads each takes. `unitBytes` is 0 where the fields are walked instead.
  uint32_t unitBytes = 0;
  std::vector<Chunk<1>> one;
  std::vector<Chunk<2>> two;
  std::vector<Chunk<3>> three;
};

void GroupProgramDeleter::operator()(GroupProgram* program) const { delete program; }

namespace {

// The byte of the group each byte of output comes from, over a unit of `unitBytes`.
std::vector<uint32_t> Permutation(const GroupProgram& program, uint32_t unitBytes) {
  std::vector<uint32_t> from(unitBytes);
  for (uint32_t base = 0; base < unitBytes; base += program.groupBytes) {
    for (const GroupField& field : program.fields) {
      for (uint32_t k = 0; k < field.bytes; ++k) {
        const uint32_t source = field.reversed ? field.bytes - 1 - k : k;
        from[base + field.offset + k] = base + field.offset + source;
      }
    }
  }
  return from;
}

template <unsigned kLoads>
void AddChunk(std::vector<Chunk<kLoads>>* chunks, uint32_t out, const uint32_t* loads,
              const uint32_t* from) {
  Chunk<kLoads> chunk;
  chunk.out = out;
  for (unsigned w = 0; w < kLoads; ++w) chunk.in[w] = loads[w];
  for (unsigned j = 0; j < kVector; ++j) {
    bool placed = false;
    for (unsigned w = 0; w < kLoads; ++w) {
      const bool inside = !placed && from[j] >= loads[w] && from[j] < loads[w] + kVector;
      chunk.mask[w][j] = inside ? static_cast<unsigned char>(from[j] - loads[w]) : 0x80;
      placed = placed || inside;
    }
  }
  chunks->push_back(chunk);
}

// The chunks of one unit; false where a chunk would take more than kMostLoads loads.
bool MakeChunks(GroupProgram* program, uint32_t unitBytes) {
  const std::vector<uint32_t> from = Permutation(*program, unitBytes);
  for (uint32_t start = 0; start < unitBytes; start += kVector) {
    const uint32_t out = std::min(start, unitBytes - kVector);
    uint32_t sources[kVector];
    std::copy(from.begin() + out, from.begin() + out + kVector, sources);
    std::sort(sources, sources + kVector);
    // Loads from the first source not yet covered, kept within the unit.
    uint32_t loads[kMostLoads];
    unsigned count = 0;
    for (uint32_t source : sources) {
      if (count > 0 && source < loads[count - 1] + kVector) continue;
      if (count == kMostLoads) return false;
      loads[count++] = std::min(source, unitBytes - kVector);
    }
    const uint32_t* wanted = from.data() + out;
    if (count == 1) AddChunk(&program->one, out, loads, wanted);
    if (count == 2) AddChunk(&program->two, out, loads, wanted);
    if (count == 3) AddChunk(&program->three, out, loads, wanted);
  }
  program->unitBytes = unitBytes;
  return true;
}

// The unit of the shuffles: whole vectors where few groups make them, at least kShortestUnit long;
// otherwise the group itself.
uint32_t UnitOf(uint32_t groupBytes) {
  const uint32_t vectors = std::lcm(groupBytes, kVector);
  if (groupBytes >= kLongestVectorUnit / 2 || vectors > kLongestVectorUnit) return groupBytes;
  return vectors * ((kShortestUnit + vectors - 1) / vectors);
}

ORVANE_INLINE_TARGET("ssse3")
__m128i Shuffled(const unsigned char* in, const unsigned char* mask) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                          _mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

ORVANE_TARGET("ssse3")
void ShuffleUnits(const GroupProgram& program, const unsigned char* in, unsigned char* out,
                  size_t units) {
  for (; units > 0; --units, in += program.unitBytes, out += program.unitBytes) {
    for (const Chunk<1>& c : program.one)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c.out), Shuffled(in + c.in[0], c.mask[0]));
    for (const Chunk<2>& c : program.two) {
      const __m128i v =
          _mm_or_si128(Shuffled(in + c.in[0], c.mask[0]), Shuffled(in + c.in[1], c.mask[1]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c.out), v);
    }
    for (const Chunk<3>& c : program.three) {
      const __m128i v = _mm_or_si128(
          _mm_or_si128(Shuffled(in + c.in[0], c.mask[0]), Shuffled(in + c.in[1], c.mask[1])),
          Shuffled(in + c.in[2], c.mask[2]));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c.out), v);
    }
  }
}

// Each field of each group, kept or reversed, byte by byte.
void WalkGroups(const GroupProgram& program, const unsigned char* in, unsigned char* out,
                size_t groups) {
  for (; groups > 0; --groups, in += program.groupBytes, out += program.groupBytes) {
    for (const GroupField& field : program.fields) {
      if (!field.reversed) {
        memcpy(out + field.offset, in + field.offset, field.bytes);
        continue;
      }
      const unsigned char* from = in + field.offset + field.bytes;
      for (unsigned char *to = out + field.offset, *end = to + field.bytes; to != end; ++to)
        *to = *--from;
    }
  }
}

}  // namespace

OwnedGroupProgram MakeGroupProgram(uint32_t groupBytes, const std::vector<GroupField>& fields) {
  OwnedGroupProgram program(new GroupProgram);
  program->groupBytes = groupBytes;
  program->fields = fields;
  const bool narrow = std::all_of(fields.begin(), fields.end(), [](const GroupField& field) {
    return !field.reversed || field.bytes <= kVector;
  });
  if (narrow && !MakeChunks(program.get(), UnitOf(groupBytes))) {
    program->one.clear();
    program->two.clear();
    program->three.clear();
  }
  return program;
}

bool IsShuffleProgram(const GroupProgram& program) { return program.unitBytes != 0; }

void PermuteGroups(const void* program, const unsigned char* in, unsigned char* out, size_t size) {
  const GroupProgram& group = *static_cast<const GroupProgram*>(program);
  size_t done = 0;
  if (group.unitBytes != 0 && CurrentSwapKernel() >= SwapKernel::kSsse3) {
    const size_t units = size / group.unitBytes;
    ShuffleUnits(group, in, out, units);
    done = units * group.unitBytes;
  }
  WalkGroups(group, in + done, out + done, (size - done) / group.groupBytes);
}
