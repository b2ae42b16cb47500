// Orvane.exe against files that another process holds open: this test process opens them with the
// access and sharing a user's other programs would use, then runs the program beside them. What the
// program may open is decided by the sharing of both sides, so each case names both. In place the
// file is replaced, never written, and a file held open cannot be replaced.
#include <doctest.h>

#include <cstdlib>

#include "test_files.h"
#include "win32_windows.h"

namespace {

constexpr DWORD kPatience = 30000;
constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A file held open by this process for as long as the object lives.
class HeldFile {
 public:
  HeldFile(const std::string& path, DWORD access, DWORD share)
      : handle_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
    REQUIRE_MESSAGE(handle_ != INVALID_HANDLE_VALUE, "holding " << path);
  }
  ~HeldFile() { CloseHandle(handle_); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  /// The file's contents as this holder reads them now, from its start.
  Bytes ReadFromStart() const {
    SetFilePointer(handle_, 0, nullptr, FILE_BEGIN);
    Bytes bytes(4096);
    DWORD read = 0;
    ReadFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
  }

 private:
  HANDLE handle_;
};

// Runs the program on a command line that must show nothing, and returns its exit code.
DWORD RunSwap(const std::string& input, const std::string& output) {
  StartedProcess process(QuoteArgument(OrvanePath()) + " -in " + QuoteArgument(input) + " -out " +
                         QuoteArgument(output) + " -datasize 32");
  REQUIRE(process.started());
  const DWORD exitCode = process.WaitForExit(kPatience);
  CHECK_MESSAGE(ProcessWindows(process.id()).empty(), "a swap shows no window");
  return exitCode;
}

enum class Held { kInput, kOutput, kInPlace };

}  // namespace

TEST_CASE(
    "files held open by another process: the sharing decides, and a refusal touches nothing") {
  struct Case {
    const char* name;
    Held held;
    DWORD access;
    DWORD share;
    DWORD exitCode;
  };
  const Case cases[] = {
      // Locked: shares neither reading nor writing.
      {"input locked", Held::kInput, GENERIC_READ | GENERIC_WRITE, 0, 1},
      {"input locked for reading only", Held::kInput, GENERIC_READ, 0, 1},
      {"output locked", Held::kOutput, GENERIC_READ | GENERIC_WRITE, 0, 1},
      {"in place, locked", Held::kInPlace, GENERIC_READ | GENERIC_WRITE, 0, 1},
      // Shares reading only: the input can still be read, the output cannot be written.
      {"input read by another, sharing reading", Held::kInput, GENERIC_READ, FILE_SHARE_READ, 0},
      {"input written by another, sharing reading", Held::kInput, GENERIC_WRITE, FILE_SHARE_READ,
       0},
      {"output read by another, sharing reading", Held::kOutput, GENERIC_READ, FILE_SHARE_READ, 1},
      // Shares both: nothing stands in the way.
      {"input held, sharing both", Held::kInput, GENERIC_READ | GENERIC_WRITE, kShareBoth, 0},
      {"output held, sharing both", Held::kOutput, GENERIC_READ | GENERIC_WRITE, kShareBoth, 0},
      {"output read by another, sharing both", Held::kOutput, GENERIC_READ, kShareBoth, 0},
      // In place, the file is replaced, which no holder lets happen, whatever it shares.
      {"in place, held sharing both", Held::kInPlace, GENERIC_READ | GENERIC_WRITE, kShareBoth, 1},
      {"in place, held sharing deletion too", Held::kInPlace, GENERIC_READ,
       kShareBoth | FILE_SHARE_DELETE, 1},
  };
  const Bytes original = RandomBytes(64, 21);
  const Bytes previous = RandomBytes(100, 22);
  const Bytes swapped = ReferenceSwap(original, 4);

  for (const Case& c : cases) {
    CAPTURE(c.name);
    TempFolder folder;
    const std::string input = folder.Path("in.bin");
    const std::string output = c.held == Held::kInPlace ? input : folder.Path("out.bin");
    WriteBytes(input, original);
    if (c.held != Held::kInPlace) WriteBytes(output, previous);
    {
      HeldFile holder(c.held == Held::kOutput ? output : input, c.access, c.share);
      CHECK(RunSwap(input, output) == c.exitCode);
      if (c.exitCode == 0 && (c.access & GENERIC_READ) && c.held == Held::kOutput) {
        // The holder sees the new contents through its own handle.
        CHECK(holder.ReadFromStart() == swapped);
      }
    }
    if (c.held == Held::kInPlace) {
      CHECK(ReadBytes(input) == (c.exitCode == 0 ? swapped : original));
    } else {
      CHECK(ReadBytes(input) == original);
      CHECK(ReadBytes(output) == (c.exitCode == 0 ? swapped : previous));
    }
  }
}

TEST_CASE("a locked input creates no output") {
  TempFolder folder;
  const Bytes original = RandomBytes(32, 23);
  WriteBytes(folder.Path("in.bin"), original);
  {
    HeldFile holder(folder.Path("in.bin"), GENERIC_READ, 0);
    CHECK(RunSwap(folder.Path("in.bin"), folder.Path("out.bin")) == 1);
  }
  CHECK_FALSE(Exists(folder.Path("out.bin")));
  CHECK(ReadBytes(folder.Path("in.bin")) == original);
}
