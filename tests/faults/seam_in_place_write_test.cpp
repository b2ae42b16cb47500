// A swap in place that fails at any step, from the first read to the replacement itself, leaves the
// file as it was and nothing beside it; so does one whose file another process changes, or whose
// name it moves to another file, just before the replacement. No real file can be made to fail a
// read on demand, nor a race be won on demand, so those come through the file layer's seam (a full
// disk, a file size limit, a signal, and a failed flush or rename in the real program are made in
// failure_causes_test.sh); the files left on disk are real and read back.
#include <doctest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "faulty_file_layer.h"
#include "swap.h"
#include "test_files.h"

namespace {

const Bytes kRecord = {'r', 'e', 'c', 'o', 'r', 'd', '!', '\n'};

void Append(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::app);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The record appended by another process. On POSIX the swap watches the file (a read lease), and
// the writer's open waits until the swap gives the file up; it goes on once the system has told the
// swap of it (the lease shows as breaking), or once the writer is done where nothing is watched.
#ifdef _WIN32
void AppendFromAnotherProcess(const std::string& path) { Append(path, kRecord); }
void AwaitOtherProcess() {}
#else
pid_t writer = -1;

bool IsLeaseBreaking() {
  std::ifstream locks("/proc/locks");
  const std::string all{std::istreambuf_iterator<char>(locks), std::istreambuf_iterator<char>()};
  return all.find("BREAKING") != std::string::npos;
}

void AppendFromAnotherProcess(const std::string& path) {
  writer = fork();
  if (writer == 0) {  // a program of its own, which holds none of the swap's descriptors
    execl("/bin/sh", "sh", "-c", "printf 'record!\\n' >>\"$0\"", path.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  for (int i = 0; i < 1000 && !IsLeaseBreaking(); ++i) {
    if (waitpid(writer, &status, WNOHANG) == writer) break;
    usleep(10000);
  }
}

void AwaitOtherProcess() {
  if (writer > 0) waitpid(writer, nullptr, 0);
  writer = -1;
}
#endif

}  // namespace

TEST_CASE("seam: in place, a failure at any step leaves the file as it was and nothing beside it") {
  struct Case {
    const char* name;
    void (*make)(Faults&, const std::string& file);
    FileStep step;
    int commits;    ///< whether the product went as far as the commit
    bool appended;  ///< whether the file ends as the original plus kRecord
  };
  const Case cases[] = {
      {"first read fails", [](Faults& f, const std::string&) { f.failRead = true; },
       FileStep::kRead, 0, false},
      {"third read fails", [](Faults& f, const std::string&) { f.readsBeforeFailure = 2; },
       FileStep::kRead, 0, false},
      {"short read", [](Faults& f, const std::string&) { f.shortRead = true; }, FileStep::kRead, 0,
       false},
      {"first write fails", [](Faults& f, const std::string&) { f.failWrite = true; },
       FileStep::kWrite, 0, false},
      {"third write fails", [](Faults& f, const std::string&) { f.writesBeforeFailure = 2; },
       FileStep::kWrite, 0, false},
      {"short write", [](Faults& f, const std::string&) { f.shortWrite = true; }, FileStep::kWrite,
       0, false},
      {"no buffer", [](Faults& f, const std::string&) { f.failAllocation = true; },
       FileStep::kAllocate, 0, false},
      {"staged file not created", [](Faults& f, const std::string&) { f.failCreateStaged = true; },
       FileStep::kCreateStaged, 0, false},
      {"owner or attributes not given",
       [](Faults& f, const std::string&) { f.failCommitAt = FileStep::kCopyMetadata; },
       FileStep::kCopyMetadata, 1, false},
      {"a record appended during the swap",
       [](Faults& f, const std::string& file) {
         f.beforeCommit = [file] { AppendFromAnotherProcess(file); };
       },
       FileStep::kReplace, 1, true},
  };
  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const std::string file = folder.Path("data.bin");
    const Bytes original = RandomBytes(96, 31);
    WriteBytes(file, original);
    Faults faults;
    faults.pieceBytes = 16;  // six pieces, so that a failure can come part-way
    c.make(faults, file);
    FaultyFileLayer files{faults};

    const SwapOutcome outcome = SwapFile(files, file.c_str(), file.c_str(), 64);
    AwaitOtherProcess();

    CHECK(outcome.error.step == c.step);
    CHECK((outcome.error.reason == FileReason::kChanged) == c.appended);
    Bytes expected = original;
    if (c.appended) expected.insert(expected.end(), kRecord.begin(), kRecord.end());
    CHECK(ReadBytes(file) == expected);
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Root())) {
      CHECK(entry.path().filename() == "data.bin");
      ++entries;
    }
    CHECK(entries == 1);
    CHECK(files.commits == c.commits);
    CHECK(files.openNow == 0);
    CHECK(files.buffersNow == 0);
  }
}

#ifndef _WIN32
// A record appended to the input while it is swapped to another file: the output would be a prefix
// of what the input now holds, so it is not made.
TEST_CASE("seam: to another file, the input grown during the swap") {
  TempFolder folder;
  const std::string input = folder.Path("data.bin");
  const Bytes original = RandomBytes(96, 34);
  WriteBytes(input, original);
  for (const bool existing : {false, true}) {
    CAPTURE(existing);
    const std::string output = folder.Path(existing ? "old.bin" : "new.bin");
    if (existing) WriteBytes(output, original);
    Faults faults;
    faults.beforeCommit = [&] { AppendFromAnotherProcess(input); };
    FaultyFileLayer files{faults};

    const FileError error = SwapFile(files, input.c_str(), output.c_str(), 16).error;
    AwaitOtherProcess();

    CHECK(error.reason == FileReason::kChanged);
    CHECK(error.side == FileSide::kInput);
    CHECK(std::filesystem::exists(output) == existing);
    if (existing) CHECK(ReadBytes(output) == original);
  }
  CHECK(std::distance(std::filesystem::directory_iterator(folder.Root()),
                      std::filesystem::directory_iterator()) == 2);
}

// Another user who may write the folder puts a link to a file of the victim's in the place of the
// file being swapped: the swap must neither write the victim's file nor replace the link.
TEST_CASE("seam: in place, a name moved to a link to another file just before the replacement") {
  TempFolder folder;
  const std::string file = folder.Path("data.bin");
  const std::string victim = folder.Path("victim.bin");
  const Bytes original = RandomBytes(96, 32);
  const Bytes secret = RandomBytes(96, 33);
  WriteBytes(file, original);
  WriteBytes(victim, secret);
  Faults faults;
  faults.beforeCommit = [&] {
    std::filesystem::rename(file, folder.Path("moved.bin"));
    std::filesystem::create_symlink(victim, file);
  };
  FaultyFileLayer files{faults};

  CHECK(SwapFile(files, file.c_str(), file.c_str(), 16).error.reason == FileReason::kChanged);

  CHECK(ReadBytes(victim) == secret);
  CHECK(std::filesystem::is_symlink(file));
  CHECK(ReadBytes(folder.Path("moved.bin")) == original);
  CHECK(std::distance(std::filesystem::directory_iterator(folder.Root()),
                      std::filesystem::directory_iterator()) == 3);
}
#endif
