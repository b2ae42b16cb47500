// Orvane.exe run as a user runs it: started with a command line, its message box (if any) read as
// the user sees it and answered, its exit code and files checked.
#include <doctest.h>

#include <cstdlib>

#include "test_files.h"
#include "win32_windows.h"

namespace {

constexpr DWORD kPatience = 30000;

struct Outcome {
  bool showedBox = false;
  MessageBoxView box;
  bool boxShowedInformationIcon = false;
  DWORD exitCode = STILL_ACTIVE;
};

// Runs the program with `tail` after its name and presses OK on any message box it shows.
Outcome Run(const std::string& tail) {
  StartedProcess process(QuoteArgument(OrvanePath()) + " " + tail);
  REQUIRE(process.started());
  Outcome outcome;
  if (HWND box = WaitForProcessWindow(process, "#32770", kPatience)) {
    outcome.showedBox = true;
    outcome.box = ReadMessageBox(box);
    outcome.boxShowedInformationIcon = ShowsSystemIcon(outcome.box.iconControl, IDI_INFORMATION);
    PressOk(box);
  }
  outcome.exitCode = process.WaitForExit(kPatience);
  return outcome;
}

std::string Quoted(const std::string& path) { return QuoteArgument(path); }

}  // namespace

TEST_CASE("malformed command lines show the usage box, exactly, and exit with 1") {
  TempFolder folder;
  const Bytes original = RandomBytes(16, 1);
  WriteBytes(folder.Path("a.bin"), original);
  const std::string a = Quoted(folder.Path("a.bin"));
  const std::string b = Quoted(folder.Path("b.bin"));
  const std::string expectedText =
      "Orvane Command Line Usage\n\n"
      "-in <file path>               : Path to file to be byte swapped\n"
      "-out <file path>             : Output file path to contain swapped results\n"
      "-datasize <size in bits>  : Size in bits of each data block (16, 32, or 64)\n\n"
      "example:\n"
      "Orvdane -in \"c:\\foo\\filein.bin\" -out \"c:\\foo\\fileout.bin\" -datasize 16";

  const std::string commandLines[] = {
      "-in " + a + " -out " + b + " -datasize 0x10",
      "-in " + a + " -out " + b + " -datasize 8",
      "-in " + a + " -out " + b + " -datasize 128",
      "-in " + a + " -out " + b + " -datasize 4294967312",
      "-in " + a + " -out " + b + " -datasize 8 -datasize 16",
      "-in",
      "-in " + a + " -out " + b + " -datasize",
      "-in " + a + " -out " + b + " -datasize 16 x",
      a,
      "-input " + a + " -out " + b + " -datasize 16",
  };
  for (const std::string& tail : commandLines) {
    CAPTURE(tail);
    const Outcome outcome = Run(tail);
    REQUIRE(outcome.showedBox);
    CHECK(outcome.box.caption == "Command Line Usage");
    CHECK(outcome.box.text == expectedText);
    CHECK(outcome.boxShowedInformationIcon);
    REQUIRE(outcome.box.buttons.size() == 1);
    CHECK(outcome.box.buttons[0].first == IDOK);
    CHECK(outcome.box.buttons[0].second == "OK");
    CHECK(outcome.exitCode == 1);
    CHECK(ReadBytes(folder.Path("a.bin")) == original);
    CHECK_FALSE(Exists(folder.Path("b.bin")));
  }
}

TEST_CASE("swaps show nothing: exit code 0 on success, 1 on failure") {
  TempFolder folder;
  const Bytes original = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::string a = Quoted(folder.Path("a.bin"));
  const std::string b = Quoted(folder.Path("b.bin"));
  const std::string c = Quoted(folder.Path("c.bin"));

  struct Case {
    std::string tail;
    DWORD exitCode;
    Bytes expectedOutput;  // empty: b.bin must not exist
  };
  const Case cases[] = {
      {"-in " + a + " -out " + b + " -datasize 32", 0, {4, 3, 2, 1, 8, 7, 6, 5}},
      {"-datasize 64 -out " + b + " -in " + a, 0, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"/IN " + a + " -Out " + b + " /DataSize 16", 0, {2, 1, 4, 3, 6, 5, 8, 7}},
      {"-in " + a + " -out " + b + " -datasize 16bit", 0, {2, 1, 4, 3, 6, 5, 8, 7}},
      {"-in " + c + " -in " + a + " -out " + b + " -datasize 16", 0, {2, 1, 4, 3, 6, 5, 8, 7}},
      {"-in " + a + " -out " + b, 1, {}},
      {"-out " + b + " -datasize 16", 1, {}},
      {"-in " + a + " -datasize 16", 1, {}},
      {"-in " + c + " -out " + b + " -datasize 16", 1, {}},
  };
  for (const Case& testCase : cases) {
    CAPTURE(testCase.tail);
    WriteBytes(folder.Path("a.bin"), original);
    std::filesystem::remove(folder.Path("b.bin"));
    const Outcome outcome = Run(testCase.tail);
    CHECK_FALSE(outcome.showedBox);
    CHECK(outcome.exitCode == testCase.exitCode);
    CHECK(ReadBytes(folder.Path("a.bin")) == original);
    if (testCase.expectedOutput.empty()) {
      CHECK_FALSE(Exists(folder.Path("b.bin")));
    } else {
      CHECK(ReadBytes(folder.Path("b.bin")) == testCase.expectedOutput);
    }
  }
}

TEST_CASE("in place through the command line") {
  TempFolder folder;
  WriteBytes(folder.Path("a.bin"), {1, 2, 3, 4, 5, 6, 7, 8});
  const std::string a = Quoted(folder.Path("a.bin"));
  const Outcome outcome = Run("-in " + a + " -out " + a + " -datasize 16");
  CHECK_FALSE(outcome.showedBox);
  CHECK(outcome.exitCode == 0);
  CHECK(ReadBytes(folder.Path("a.bin")) == Bytes{2, 1, 4, 3, 6, 5, 8, 7});
}

TEST_CASE("a wildcard reaches the parser as typed, even when files match it") {
  TempFolder folder;
  WriteBytes(folder.Path("only.bin"), {1, 2, 3, 4});
  // Expanded, `*.bin` would become only.bin and the swap would succeed. Unexpanded it names no
  // file.
  StartedProcess process(QuoteArgument(OrvanePath()) + " -in *.bin -out out.bin -datasize 16",
                         folder.Root().string());
  REQUIRE(process.started());
  CHECK(process.WaitForExit(kPatience) == 1);
  CHECK_FALSE(Exists(folder.Path("out.bin")));
  CHECK(ReadBytes(folder.Path("only.bin")) == Bytes{1, 2, 3, 4});
}
