// Orvane.exe started with command lines as users type them, hostile ones included, exactly as given
// to CreateProcess: each either shows the usage box and exits with 1 touching no file, or runs the
// swap, shows nothing and gives the swap's result. None may crash or hang.
#include <doctest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "test_files.h"
#include "win32_windows.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kPatience = 30000;
const Bytes kOriginal = {1, 2, 3, 4, 5, 6, 7, 8};
const Bytes kSwapped16 = {2, 1, 4, 3, 6, 5, 8, 7};

struct Outcome {
  bool showedUsage = false;
  bool showedOtherWindow = false;
  DWORD exitCode = STILL_ACTIVE;
};

// Runs the program with `tail` after its name in `folder`, answering any usage box with OK.
Outcome Run(const std::string& tail, const std::string& folder) {
  StartedProcess process(QuoteArgument(OrvanePath()) + " " + tail, folder);
  REQUIRE(process.started());
  Outcome outcome;
  if (HWND box = WaitForProcessWindow(process, nullptr, kPatience)) {
    const MessageBoxView view = ReadMessageBox(box);
    outcome.showedUsage = ClassName(box) == "#32770" && view.caption == "Command Line Usage";
    outcome.showedOtherWindow = !outcome.showedUsage;
    PressOk(box);
  }
  outcome.exitCode = process.WaitForExit(kPatience);
  return outcome;
}

// The names in a folder, sorted.
std::vector<std::wstring> Listing(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A path in its long form, past MAX_PATH, for the test's own file calls.
std::wstring LongForm(const std::wstring& path) { return L"\\\\?\\" + path; }

std::wstring Widen(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                  static_cast<int>(wide.size())));
  return wide;
}

bool WriteWide(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return written == bytes.size();
}

// The file's bytes, or nothing when it cannot be opened (a missing file reads as empty).
Bytes ReadWide(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  Bytes bytes(4096);
  DWORD read = 0;
  ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

std::string Repeat(const std::string& text, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += text;
  return result;
}

}  // namespace

TEST_CASE("hostile command lines that are usage errors: the box, exit code 1, no file touched") {
  const std::string thousandPairs = Repeat("-in m.bin ", 2500);
  const std::string commandLines[] = {
      "-in",
      "-out",
      "-datasize",
      "/IN",
      "/Out",
      "/DATASIZE",
      "\"\"",  // an empty string as the only argument
      "\"\" \"\"",
      "\"",                                     // a lone quote: one empty argument
      "\"-in a.bin\" -out b.bin -datasize 16",  // option and value quoted together
      "-in a.bin -out b.bin -datasize \"\"",    // an empty data size reads as 0
      "-in a.bin -out b.bin -datasize \"   \"",
      "-in a.bin -out b.bin -datasize 16 \"\"",  // a trailing empty argument, read as an option
      "\"-in \" a.bin -out b.bin -datasize 16",
      "-i\"n\" a.bin -out b.bin -datasize 16 x",  // quotes glued to an option leave it intact
      "-\xEEn a.bin -out b.bin -datasize 16",     // an option in non-ASCII letters
      thousandPairs + "-in a.bin -out b.bin -datasize 16 x",
      "-datasize 8 " + thousandPairs + "-in a.bin -out b.bin -datasize 16",
  };
  TempFolder folder;
  for (const std::string& tail : commandLines) {
    CAPTURE(tail.substr(0, 120));
    WriteBytes(folder.Path("a.bin"), kOriginal);
    const Outcome outcome = Run(tail, folder.Root().string());
    CHECK(outcome.showedUsage);
    CHECK_FALSE(outcome.showedOtherWindow);
    CHECK(outcome.exitCode == 1);
    CHECK(ReadBytes(folder.Path("a.bin")) == kOriginal);
    CHECK(Listing(folder.Root()) == std::vector<std::wstring>{L"a.bin"});
  }
}

TEST_CASE("hostile command lines the parser accepts: no window, the swap's own result") {
  struct Case {
    std::string tail;
    DWORD exitCode;
    std::wstring output;  // holds the swapped input on success; on failure only a.bin may exist
  };
  const std::string thousandPairs = Repeat("-in m.bin ", 2500);
  const Case cases[] = {
      {"-in \"\" -out b.bin -datasize 16", 1, L""},
      {"-in a.bin -out \"\" -datasize 16", 1, L""},
      {"-in \"   \" -out b.bin -datasize 16", 1, L""},
      {"-in a.bin -out b.bin -datasize \"  16\"", 0, L"b.bin"},
      // An unbalanced quote swallows the rest: -in gets one long value and there is no data size.
      {"-in \"a.bin -out b.bin -datasize 16", 1, L""},
      // Quotes in the middle of an argument are removed; the name is put together again.
      {"-in \"a\".bin -out b\".bin\" -datasize 16", 0, L"b.bin"},
      // A quote inside a name, escaped, reaches the program; no Windows name may hold one.
      {"-in a.bin -out \"b\\\"c.bin\" -datasize 16", 1, L""},
      {"-in\"\" a.bin -out b.bin -datasize 16", 0, L"b.bin"},
      {"-in a.bin -out \"my output.bin\" -datasize 16", 0, L"my output.bin"},
      {"-in a.bin -out \"  leading spaces.bin\" -datasize 16", 0, L"  leading spaces.bin"},
      {"-in a.bin -out \"-in\" -datasize 16", 0, L"-in"},
      {thousandPairs + "-in a.bin -out b.bin -datasize 16", 0, L"b.bin"},
      {"-in a.bin " + thousandPairs + "-out b.bin -datasize 16", 1, L""},
  };
  for (const Case& c : cases) {
    CAPTURE(c.tail.substr(0, 120));
    TempFolder folder;
    WriteBytes(folder.Path("a.bin"), kOriginal);
    const Outcome outcome = Run(c.tail, folder.Root().string());
    CHECK_FALSE(outcome.showedUsage);
    CHECK_FALSE(outcome.showedOtherWindow);
    CHECK(outcome.exitCode == c.exitCode);
    CHECK(ReadBytes(folder.Path("a.bin")) == kOriginal);
    if (c.exitCode == 0) {
      CHECK(ReadWide((folder.Root() / c.output).wstring()) == kSwapped16);
    } else {
      CHECK(Listing(folder.Root()) == std::vector<std::wstring>{L"a.bin"});
    }
  }
}

TEST_CASE("non-ASCII names in the system code page") {
  // "café.bin" and "été.bin" as the system's code page writes them.
  const std::wstring inputName = L"caf\u00e9.bin";
  const std::wstring outputName = L"\u00e9t\u00e9.bin";
  auto narrow = [](const std::wstring& wide, bool* lossy) {
    BOOL usedDefault = FALSE;
    std::string text(wide.size() * 4, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(),
                                    static_cast<int>(wide.size()), &text[0],
                                    static_cast<int>(text.size()), nullptr, &usedDefault));
    *lossy = usedDefault != FALSE;
    return text;
  };
  bool lossyInput = false, lossyOutput = false;
  const std::string input = narrow(inputName, &lossyInput);
  const std::string output = narrow(outputName, &lossyOutput);
  if (lossyInput || lossyOutput) {
    MESSAGE("skipped: code page " << GetACP() << " has no e with an acute accent");
    return;
  }
  MESSAGE("code page " << GetACP());
  if (GetACP() == 1252) CHECK(input == "caf\xE9.bin");  // one byte, 0xE9, for the accented e

  TempFolder folder;
  REQUIRE(WriteWide((folder.Root() / inputName).wstring(), kOriginal));
  const Outcome outcome =
      Run("-in \"" + input + "\" -out \"" + output + "\" -datasize 16", folder.Root().string());
  CHECK_FALSE(outcome.showedUsage);
  CHECK(outcome.exitCode == 0);
  CHECK(ReadWide((folder.Root() / outputName).wstring()) == kSwapped16);
  CHECK(ReadWide((folder.Root() / inputName).wstring()) == kOriginal);

  // In place, the name given in its unquoted form.
  const Outcome inPlace =
      Run("-datasize 16 -in " + output + " -out " + output, folder.Root().string());
  CHECK(inPlace.exitCode == 0);
  CHECK(ReadWide((folder.Root() / outputName).wstring()) == kOriginal);
}

// The command line sets no limit of its own: a path gets whatever the platform's narrow file calls
// make of it. MAX_PATH (260, with the terminating NUL) is their limit on Windows, so a path of 259
// bytes must work; longer ones must give the same result as this process's own CreateFileA, and a
// failure must create nothing.
TEST_CASE("paths at and beyond 259 bytes") {
  TempFolder folder;
  WriteBytes(folder.Path("a.bin"), kOriginal);
  const std::string base = fs::absolute(folder.Root()).string();
  for (size_t total : {258u, 259u, 260u, 261u, 300u, 1000u}) {
    CAPTURE(total);
    // Folders of 100 characters until one name of at most 100 completes the length.
    std::string path = base + "\\long" + std::to_string(total);
    CreateDirectoryW(LongForm(Widen(path)).c_str(), nullptr);
    while (path.size() + 1 + 100 + 1 < total) {
      path += "\\" + std::string(100, 'd');
      REQUIRE(CreateDirectoryW(LongForm(Widen(path)).c_str(), nullptr));
    }
    path += "\\" + std::string(total - path.size() - 1, 'f');
    REQUIRE(path.size() == total);

    HANDLE probe = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const bool platformTakesIt = probe != INVALID_HANDLE_VALUE;
    if (platformTakesIt) {
      CloseHandle(probe);
      DeleteFileW(LongForm(Widen(path)).c_str());
    }
    if (total <= 259) REQUIRE(platformTakesIt);
    MESSAGE("a path of " << total << " bytes " << (platformTakesIt ? "works" : "fails")
                         << " with CreateFileA");

    const Outcome outcome = Run("-in a.bin -out \"" + path + "\" -datasize 16", base);
    CHECK_FALSE(outcome.showedUsage);
    CHECK(outcome.exitCode == (platformTakesIt ? 0u : 1u));
    CHECK(ReadWide(LongForm(Widen(path))) == (platformTakesIt ? kSwapped16 : Bytes{}));
    if (!platformTakesIt) {
      CHECK(GetFileAttributesW(LongForm(Widen(path)).c_str()) == INVALID_FILE_ATTRIBUTES);
    }

    // The same path as the input, swapped in place.
    REQUIRE(WriteWide(LongForm(Widen(path)), kOriginal));
    const Outcome inPlace = Run("-in \"" + path + "\" -out \"" + path + "\" -datasize 16", base);
    CHECK(inPlace.exitCode == (platformTakesIt ? 0u : 1u));
    CHECK(ReadWide(LongForm(Widen(path))) == (platformTakesIt ? kSwapped16 : kOriginal));
  }
  CHECK(ReadBytes(folder.Path("a.bin")) == kOriginal);
}
