// The piece loop, which serves every swap: a file read whole (Windows, below 4 GiB), a file read in
// pieces (natively always, on Windows beyond 4 GiB or where no whole buffer can be had), and a
// stream. Real files of a few hundred bytes stand in for large ones: the seam makes the pieces a
// few bytes long, so every boundary case of the loop is reached quickly, and counts the reads and
// writes to show that the pieces were what the loop moved. The real thing, just over 4 GiB, is an
// end-to-end test.
#include <doctest.h>

#include <filesystem>

#include "faulty_file_layer.h"
#include "swap.h"
#include "test_files.h"

namespace {

// Pieces of `pieceBytes`, never a whole file.
Faults InPieces(uint32_t pieceBytes) {
  Faults faults;
  faults.largestWholeWrite = 1;
  faults.pieceBytes = pieceBytes;
  return faults;
}

size_t PiecesOf(size_t size, uint32_t pieceBytes, unsigned blockBytes) {
  const size_t piece = std::max<size_t>(pieceBytes - pieceBytes % blockBytes, blockBytes);
  return (size + piece - 1) / piece;
}

}  // namespace

TEST_CASE("in pieces: every size and piece size matches the reference, to each kind of output") {
  // Piece sizes that are and are not multiples of the block length: a piece never splits a block.
  for (uint32_t pieceBytes : {1u, 2u, 8u, 20u, 24u, 64u, 1000u}) {
    for (size_t size : {8u, 16u, 24u, 40u, 1000u, 1008u}) {
      for (unsigned bits : {16u, 24u, 32u, 64u}) {
        if (size % (bits / 8) != 0 || !IsReversedHere(bits / 8)) continue;
        CAPTURE(pieceBytes);
        CAPTURE(size);
        CAPTURE(bits);
        TempFolder folder;
        const Bytes input = RandomBytes(size, pieceBytes * 7 + static_cast<uint32_t>(size) + bits);
        const Bytes expected = ReferenceSwap(input, bits / 8);
        WriteBytes(folder.Path("in.bin"), input);
        WriteBytes(folder.Path("longer.bin"), RandomBytes(size * 3, 1));
        const size_t pieces = PiecesOf(size, pieceBytes, bits / 8);
        // A new file, a longer existing one, the input itself.
        for (const std::string& output :
             {folder.Path("out.bin"), folder.Path("longer.bin"), folder.Path("in.bin")}) {
          CAPTURE(output);
          FaultyFileLayer files{InPieces(pieceBytes)};
          REQUIRE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(), output.c_str(), bits));
          CHECK(ReadBytes(output) == expected);
          CHECK(files.reads == static_cast<int>(pieces));
          CHECK(files.writes == static_cast<int>(pieces));
          // Memory stays at one piece, whatever the size of the file.
          CHECK(files.largestAllocated <= std::max<size_t>(pieceBytes, bits / 8));
          CHECK(files.misaligned == 0);
          WriteBytes(folder.Path("in.bin"), input);
        }
      }
    }
  }
}

// A buffer larger than the processor's cache is read in parts of about 256 KiB, whole pages and
// whole blocks, each swapped as it comes, and written with one call.
TEST_CASE("whole reads: a file the layer reads whole is read in parts of 256 KiB, written once") {
  struct Case {
    uint32_t size;
    unsigned bits;
    int reads;
  };
  // 3-byte blocks: parts of 270336 bytes (22 times 3 pages).
  for (const Case& c : {Case{1000, 32, 1}, Case{(512u << 10) + 1000, 32, 3}, Case{600000, 24, 3}}) {
    if (!IsReversedHere(c.bits / 8)) continue;  // a width this build does not take
    CAPTURE(c.size);
    CAPTURE(c.bits);
    TempFolder folder;
    const Bytes input = RandomBytes(c.size, 61);
    WriteBytes(folder.Path("in.bin"), input);
    for (const std::string& output : {folder.Path("out.bin"), folder.Path("in.bin")}) {
      Faults faults;
      faults.largestWholeWrite = c.size;
      faults.pieceBytes = 96;
      FaultyFileLayer files{faults};
      REQUIRE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(), output.c_str(), c.bits));
      CHECK(ReadBytes(output) == SwappedHere(input, c.bits / 8));
      CHECK(files.reads == c.reads);
      CHECK(files.writes == 1);
      CHECK(files.largestAllocated == c.size);
      CHECK(files.misaligned == 0);
      WriteBytes(folder.Path("in.bin"), input);
    }
  }
}

TEST_CASE("whole reads: a whole buffer that cannot be had gives way to pieces") {
  TempFolder folder;
  const Bytes input = RandomBytes(5000, 31);
  WriteBytes(folder.Path("in.bin"), input);
  Faults noWholeBuffer;
  noWholeBuffer.largestWholeWrite = 5000;
  noWholeBuffer.largestAllocation = 4096;
  noWholeBuffer.pieceBytes = 1024;
  FaultyFileLayer files{noWholeBuffer};
  REQUIRE(
      SwapFileByteOrder(files, folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), 64));
  CHECK(ReadBytes(folder.Path("out.bin")) == ReferenceSwap(input, 8));
  CHECK(files.allocations == 2);  // the whole file refused, then one piece
  CHECK(files.largestAllocated == 1024);
  CHECK(files.reads == 5);
}

// A hard link, which is the input by identity too, is refused: see failure_causes_test.sh.
TEST_CASE("in pieces: the output is the input by identity, not by the spelling of its path") {
  TempFolder folder;
  std::filesystem::create_directory(folder.Path("sub"));
  const Bytes original = RandomBytes(1000, 21);
  const std::string path = folder.Path("data.bin");
  WriteBytes(path, original);
  const std::string spelling =
      (std::filesystem::path(folder.Path("sub")) / ".." / "data.bin").string();
  FaultyFileLayer files{InPieces(64)};
  // Streaming into a truncated "other" file would have destroyed the input before reading it.
  REQUIRE(SwapFileByteOrder(files, path.c_str(), spelling.c_str(), 32));
  CHECK(ReadBytes(path) == ReferenceSwap(original, 4));
}

TEST_CASE("in pieces: an output that cannot be created leaves the input untouched") {
  TempFolder folder;
  const Bytes input = RandomBytes(96, 5);
  WriteBytes(folder.Path("in.bin"), input);
  std::filesystem::create_directory(folder.Path("sub"));
  for (const std::string& output :
       {folder.Path("nowhere/out.bin"), folder.Path("sub"), std::string()}) {
    CAPTURE(output);
    FaultyFileLayer files{InPieces(16)};
    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(), output.c_str(), 16));
    CHECK(ReadBytes(folder.Path("in.bin")) == input);
    CHECK(files.openNow == 0);
  }
}

// What a failure part-way leaves in another file: written directly (Windows), the pieces before it;
// written to a staged file and renamed (natively), the old output as it was and nothing beside it.
// The bytes a short write stores are the fake's doing; the product's part is to stop there, report
// failure and close and release everything. In place, the same faults are rows of
// faults_seam_write_test's table.
TEST_CASE("in pieces: a failure part-way leaves a partial output, or the old one") {
  const Bytes original = RandomBytes(96, 41);
  const Bytes swapped = ReferenceSwap(original, 8);
  struct Case {
    const char* name;
    bool failRead;
    int readsBeforeFailure;
    int writesBeforeFailure;
    bool shortWrite;
    int writes;          ///< write calls made, the failed one included
    size_t outputBytes;  ///< bytes in the other file, where the product alone wrote them
  };
  // Pieces of 16 bytes.
  const Case cases[] = {
      {"first read fails", true, 0, 0, false, 0, 0},
      {"third read fails", false, 2, 0, false, 2, 32},
      {"third write fails", false, 0, 2, false, 3, 32},
      {"first write short", false, 0, 0, true, 1, SIZE_MAX},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    Faults faults = InPieces(16);
    faults.failRead = c.failRead;
    faults.readsBeforeFailure = c.readsBeforeFailure;
    faults.writesBeforeFailure = c.writesBeforeFailure;
    faults.shortWrite = c.shortWrite;
    TempFolder folder;
    WriteBytes(folder.Path("in.bin"), original);
    const Bytes previous = RandomBytes(200, 42);
    WriteBytes(folder.Path("out.bin"), previous);
    FaultyFileLayer files{faults};
    CHECK_FALSE(SwapFileByteOrder(files, folder.Path("in.bin").c_str(),
                                  folder.Path("out.bin").c_str(), 64));
    CHECK(ReadBytes(folder.Path("in.bin")) == original);
    if (kStagesOutputs || c.failRead) {
      CHECK(ReadBytes(folder.Path("out.bin")) == previous);
      CHECK(std::distance(std::filesystem::directory_iterator(folder.Root()),
                          std::filesystem::directory_iterator()) == 2);
    } else if (c.outputBytes != SIZE_MAX) {
      CHECK(ReadBytes(folder.Path("out.bin")) ==
            Bytes(swapped.begin(), swapped.begin() + c.outputBytes));
    }
    CHECK(files.writes == c.writes);
    CHECK(files.openNow == 0);
    CHECK(files.buffersNow == 0);
  }
}
