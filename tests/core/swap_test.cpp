// The swap routine against real files in a private folder, and the faults that need a seam.
#include "swap.h"

#include <doctest.h>

#include <filesystem>

#ifndef _WIN32
#include <signal.h>
#endif

#include "faulty_file_layer.h"
#include "swap_block.h"
#include "test_files.h"

namespace {

const Bytes kEightBytes = {1, 2, 3, 4, 5, 6, 7, 8};

}  // namespace

TEST_CASE("SwapBlock reverses 2, 4 and 8 bytes and leaves other lengths alone") {
  struct Case {
    unsigned blockBytes;
    Bytes expected;
  };
  const Case cases[] = {
      {2, {2, 1, 3, 4, 5, 6, 7, 8, 9}}, {4, {4, 3, 2, 1, 5, 6, 7, 8, 9}},
      {8, {8, 7, 6, 5, 4, 3, 2, 1, 9}}, {0, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {1, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {3, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {6, {1, 2, 3, 4, 5, 6, 7, 8, 9}}, {16, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const Case& c : cases) {
    CAPTURE(c.blockBytes);
    Bytes block = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SwapBlock(block.data() + 0, c.blockBytes);
    CHECK(block == c.expected);
  }
  SwapBlock(nullptr, 4);  // an absent block is no fault
}

TEST_CASE("SwapBlock works on unaligned blocks") {
  Bytes bytes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  SwapBlock(bytes.data() + 1, 8);
  CHECK(bytes == Bytes{0, 8, 7, 6, 5, 4, 3, 2, 1, 9});
}

TEST_CASE("the eight bytes 01..08 in each data size") {
  struct Case {
    unsigned bits;
    Bytes expected;
  };
  const Case cases[] = {
      {16, {2, 1, 4, 3, 6, 5, 8, 7}},
      {32, {4, 3, 2, 1, 8, 7, 6, 5}},
      {64, {8, 7, 6, 5, 4, 3, 2, 1}},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    CAPTURE(c.bits);
    WriteBytes(folder.Path("in.bin"), kEightBytes);
    REQUIRE(
        SwapFileByteOrder(folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), c.bits));
    CHECK(ReadBytes(folder.Path("out.bin")) == c.expected);
    CHECK(ReadBytes(folder.Path("in.bin")) == kEightBytes);
  }
}

TEST_CASE("sizes and data sizes: a multiple of the block length succeeds, nothing else does") {
  // `whole`: a whole number of blocks, which succeeds where this build swaps blocks of that length
  // (the Windows programs fail the others, never report an unswapped copy as swapped).
  struct Case {
    size_t size;
    unsigned bits;
    bool whole;
  };
  const Case cases[] = {
      {6, 16, true},  {6, 32, false},  {6, 64, false},    {2, 32, false},     {2, 16, true},
      {0, 16, false}, {0, 32, false},  {0, 64, false},    {12, 64, false},    {4, 32, true},
      {4, 0, false},  {4, 8, false},   {24, 24, true},    {24, 17, false},    {7, 24, false},
      {12, 48, true}, {10, 48, false}, {256, 1024, true}, {264, 1032, false},
  };
  for (const Case& c : cases) {
    CAPTURE(c.size);
    CAPTURE(c.bits);
    TempFolder folder;
    const Bytes input = RandomBytes(c.size, static_cast<uint32_t>(c.size * 131 + c.bits));
    WriteBytes(folder.Path("in.bin"), input);
    const bool succeeds = c.whole && IsReversedHere(c.bits / 8);
    const bool swapped =
        SwapFileByteOrder(folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), c.bits);
    CHECK(swapped == succeeds);
    CHECK(ReadBytes(folder.Path("in.bin")) == input);
    if (succeeds) {
      CHECK(ReadBytes(folder.Path("out.bin")) == ReferenceSwap(input, c.bits / 8));
    } else {
      CHECK_FALSE(Exists(folder.Path("out.bin")));
    }
  }
}

TEST_CASE("a data size that is not a whole number of bytes from 2 to 128 fails before any open") {
  TempFolder folder;
  WriteBytes(folder.Path("in.bin"), kEightBytes);
  for (unsigned bits : {0u, 8u, 20u, 1u, 65u, 1032u, 2048u}) {
    CAPTURE(bits);
    FaultyFileLayer files{Faults{}};
    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(),
                                  folder.Path("out.bin").c_str(), bits));
    CHECK(files.opened == 0);
  }
  CHECK_FALSE(Exists(folder.Path("out.bin")));
}

TEST_CASE("absent paths fail at once") {
  TempFolder folder;
  WriteBytes(folder.Path("in.bin"), kEightBytes);
  FaultyFileLayer files{Faults{}};
  CHECK_FALSE(SwapFileByteOrder(files, nullptr, folder.Path("out.bin").c_str(), 16));
  CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(), nullptr, 16));
  CHECK(files.opened == 0);
}

TEST_CASE("in place, and twice in a row restores the file") {
  TempFolder folder;
  const std::string path = folder.Path("data.bin");
  const Bytes original = RandomBytes(4096 + 8, 7);
  WriteBytes(path, original);
  for (unsigned bits : {16u, 32u, 64u}) {
    CAPTURE(bits);
    REQUIRE(SwapFileByteOrder(path.c_str(), path.c_str(), bits));
    CHECK(ReadBytes(path) == ReferenceSwap(original, bits / 8));
    REQUIRE(SwapFileByteOrder(path.c_str(), path.c_str(), bits));
    CHECK(ReadBytes(path) == original);
  }
#ifndef _WIN32
  // The signal of the lease that watched the file, ignored meanwhile, is no longer ignored (it is
  // the clean-up handler, which hands it to its default action while no staged file exists).
  struct sigaction now = {};
  sigaction(SIGIO, nullptr, &now);
  CHECK((now.sa_handler != SIG_IGN));
#endif
}

TEST_CASE("an existing longer output is replaced whole") {
  TempFolder folder;
  WriteBytes(folder.Path("in.bin"), kEightBytes);
  WriteBytes(folder.Path("out.bin"), RandomBytes(1000, 3));
  REQUIRE(SwapFileByteOrder(folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), 32));
  CHECK(ReadBytes(folder.Path("out.bin")) == Bytes{4, 3, 2, 1, 8, 7, 6, 5});
}

TEST_CASE("random files of many sizes match the reference") {
  TempFolder folder;
  uint32_t seed = 1;
  for (size_t size : {8u, 16u, 24u, 64u, 1000u, 4096u, 65536u, 65544u, 1048576u, 3000000u}) {
    for (unsigned bits : {16u, 32u, 64u}) {
      if (size % (bits / 8) != 0) continue;
      CAPTURE(size);
      CAPTURE(bits);
      const Bytes input = RandomBytes(size, ++seed);
      WriteBytes(folder.Path("in.bin"), input);
      REQUIRE(
          SwapFileByteOrder(folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), bits));
      CHECK(ReadBytes(folder.Path("out.bin")) == ReferenceSwap(input, bits / 8));
    }
  }
}

// Each failure cause that real files can produce, with what it must leave on disk.
TEST_CASE("failures with real files leave the input untouched and the output as it was") {
  TempFolder folder;
  const std::string input = folder.Path("in.bin");
  const std::string output = folder.Path("out.bin");
  const std::string subfolder = folder.Path("sub");
  std::filesystem::create_directory(subfolder);
  const Bytes original = RandomBytes(64, 11);
  const Bytes previousOutput = RandomBytes(40, 12);

  struct Case {
    const char* name;
    std::string input;
    std::string output;
  };
  const Case cases[] = {
      {"missing input", folder.Path("missing.bin"), output},
      {"empty input path", "", output},
      {"folder as input", subfolder, output},
      {"empty output path", input, ""},
      {"output in a missing folder", input, folder.Path("nowhere/out.bin")},
      {"folder as output", input, subfolder},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    WriteBytes(input, original);
    WriteBytes(output, previousOutput);
    CHECK_FALSE(SwapFileByteOrder(c.input.c_str(), c.output.c_str(), 32));
    CHECK(ReadBytes(input) == original);
    CHECK(ReadBytes(output) == previousOutput);
    CHECK_FALSE(Exists(folder.Path("nowhere")));
  }
}

// The faults below cannot be made on demand with real files, so they come through the seam.
// In place, the same faults are rows of faults_seam_write_test's table.
TEST_CASE("seam: a failed or short read, or no buffer at all, touches no output") {
  struct Case {
    const char* name;
    Faults faults;
  };
  Faults failRead, shortRead, failAllocation;
  failRead.failRead = true;
  shortRead.shortRead = true;
  failAllocation.failAllocation = true;  // not even a piece's buffer
  const Case cases[] = {
      {"failed read", failRead},
      {"short read", shortRead},
      {"failed allocation", failAllocation},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const Bytes original = RandomBytes(64, 5);
    WriteBytes(folder.Path("in.bin"), original);
    WriteBytes(folder.Path("old.bin"), kEightBytes);
    FaultyFileLayer files{c.faults};
    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(),
                                  folder.Path("out.bin").c_str(), 16));
    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(),
                                  folder.Path("old.bin").c_str(), 16));
    CHECK(ReadBytes(folder.Path("in.bin")) == original);
    CHECK(ReadBytes(folder.Path("old.bin")) == kEightBytes);
    CHECK_FALSE(Exists(folder.Path("out.bin")));
  }
}

// What the bytes stored before the fault are is the fake's doing; the product's part is to report
// the failure and close and release everything, and to leave: written directly (Windows), the
// output it created or truncated, never removed; written beside it and renamed (Linux), the old
// output as it was, or none, and nothing beside it.
TEST_CASE("seam: a failed or short write to another file reports failure") {
  struct Case {
    const char* name;
    bool shortWrite;
    bool existing;  ///< whether a longer output exists before
  };
  const Case cases[] = {
      {"failed write, new output", false, false},
      {"failed write, longer output", false, true},
      {"short write, new output", true, false},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const Bytes original = RandomBytes(64, 9);
    const Bytes previous = RandomBytes(200, 10);
    WriteBytes(folder.Path("in.bin"), original);
    if (c.existing) WriteBytes(folder.Path("out.bin"), previous);
    Faults faults;
    faults.failWrite = !c.shortWrite;
    faults.shortWrite = c.shortWrite;
    FaultyFileLayer files{faults};

    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(),
                                  folder.Path("out.bin").c_str(), 16));

    if (kStagesOutputs) {
      CHECK(Exists(folder.Path("out.bin")) == c.existing);
      if (c.existing) CHECK(ReadBytes(folder.Path("out.bin")) == previous);
      CHECK(std::distance(std::filesystem::directory_iterator(folder.Root()),
                          std::filesystem::directory_iterator()) == (c.existing ? 2 : 1));
    } else {
      REQUIRE(Exists(folder.Path("out.bin")));
      // Created or truncated: nothing of a longer old output is left after a write that stored
      // none.
      if (!c.shortWrite) CHECK(ReadBytes(folder.Path("out.bin")).empty());
    }
    CHECK(files.writes == 1);
    CHECK(files.openNow == 0);
    CHECK(files.buffersNow == 0);
    CHECK(ReadBytes(folder.Path("in.bin")) == original);
  }
}
