// What a failed write leaves when the output is the input: the one failure that loses data. No real
// file can be made to fail its write on demand part-way, so the fault comes through the file
// layer's seam; the file left on disk is real and read back.
#include <doctest.h>

#include "faulty_file_layer.h"
#include "swap.h"
#include "test_files.h"

TEST_CASE("seam: a failed in-place write leaves the file truncated to what was stored") {
  struct Case {
    const char* name;
    Faults faults;
    size_t stored;  // bytes of the swapped file that reach the disk
  };
  Faults failWrite, shortWrite;
  failWrite.failWrite = true;
  shortWrite.shortWrite = true;
  const Case cases[] = {
      {"failed write", failWrite, 0},
      {"short write", shortWrite, 32},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const std::string file = folder.Path("data.bin");
    const Bytes original = RandomBytes(64, 31);
    WriteBytes(file, original);
    FaultyFileLayer files{c.faults};

    CHECK_FALSE(SwapFileByteOrder(files, file.c_str(), file.c_str(), 32));

    // The old contents were replaced when the output was truncated; only the stored part remains.
    const Bytes swapped = ReferenceSwap(original, 4);
    CHECK(ReadBytes(file) == Bytes(swapped.begin(), swapped.begin() + c.stored));
    // Nothing else was created beside it: no temporary copy, no backup.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Root())) {
      (void)entry;
      ++entries;
    }
    CHECK(entries == 1);
  }
}

TEST_CASE("seam: a failed write to another file leaves the input whole, the output partial") {
  Faults shortWrite;
  shortWrite.shortWrite = true;
  TempFolder folder;
  const Bytes original = RandomBytes(64, 32);
  const Bytes longerOldOutput = RandomBytes(200, 33);
  WriteBytes(folder.Path("in.bin"), original);
  WriteBytes(folder.Path("out.bin"), longerOldOutput);
  FaultyFileLayer files{shortWrite};

  CHECK_FALSE(
      SwapFileByteOrder(files, folder.Path("in.bin").c_str(), folder.Path("out.bin").c_str(), 64));

  CHECK(ReadBytes(folder.Path("in.bin")) == original);
  const Bytes swapped = ReferenceSwap(original, 8);
  CHECK(ReadBytes(folder.Path("out.bin")) == Bytes(swapped.begin(), swapped.begin() + 32));
}
