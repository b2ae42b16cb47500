// A swap in place that fails at any step, from the first read to the replacement itself, leaves the
// file as it was and nothing beside it. No real file can be made to fail a read, a flush or a
// rename on demand, so those faults come through the file layer's seam (a full disk and a file size
// limit are made for real in failure_causes_test.sh); the file left on disk is real and read back.
#include <doctest.h>

#include <filesystem>

#include "faulty_file_layer.h"
#include "swap.h"
#include "test_files.h"

TEST_CASE("seam: in place, a failure at any step leaves the file untouched and nothing beside it") {
  struct Case {
    const char* name;
    void (*make)(Faults&);
    int replaces;  ///< whether the product went as far as the replacement
  };
  const Case cases[] = {
      {"first read fails", [](Faults& f) { f.failRead = true; }, 0},
      {"third read fails", [](Faults& f) { f.readsBeforeFailure = 2; }, 0},
      {"short read", [](Faults& f) { f.shortRead = true; }, 0},
      {"first write fails", [](Faults& f) { f.failWrite = true; }, 0},
      {"third write fails", [](Faults& f) { f.writesBeforeFailure = 2; }, 0},
      {"short write", [](Faults& f) { f.shortWrite = true; }, 0},
      {"no buffer", [](Faults& f) { f.failAllocation = true; }, 0},
      {"flush fails", [](Faults& f) { f.failFlush = true; }, 0},
      {"replace fails", [](Faults& f) { f.failReplace = true; }, 1},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const std::string file = folder.Path("data.bin");
    const Bytes original = RandomBytes(96, 31);
    WriteBytes(file, original);
    Faults faults;
    faults.pieceBytes = 16;  // six pieces, so that a failure can come part-way
    c.make(faults);
    FaultyFileLayer files{faults};

    CHECK_FALSE(SwapFileByteOrder(files, file.c_str(), file.c_str(), 64));

    CHECK(ReadBytes(file) == original);
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Root())) {
      CHECK(entry.path().filename() == "data.bin");
      ++entries;
    }
    CHECK(entries == 1);
    CHECK(files.replaces == c.replaces);
    CHECK(files.openNow == 0);
    CHECK(files.buffersNow == 0);
  }
}
