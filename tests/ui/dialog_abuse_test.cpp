// The dialog under abuse, from the outside: OK pressed again and again, both fields naming one
// file, a read-only output, a field too long for a path, a chooser cancelled. Each time the right
// box, no file touched where none should be, and the program still answering afterwards.
#include <doctest.h>

#include "running_dialog.h"
#include "test_files.h"

namespace {

const char kFailureText[] =
    "Swap failed. Ensure input exists and size is aligned to specified data size.";

struct BoxSeen {
  std::string caption;
  std::string text;
  bool information;
  bool warning;
};

BoxSeen PressOk(RunningDialog& running) {
  BoxSeen seen{};
  const MessageBoxView view = running.PressOkButton(&seen.information, &seen.warning);
  seen.caption = view.caption;
  seen.text = view.text;
  return seen;
}

void SetField(RunningDialog& running, int field, const std::string& text) {
  SendMessageA(running.item(field), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void CheckSucceeded(const BoxSeen& seen) {
  CHECK(seen.caption == "Swap Success!");
  CHECK(seen.text == "Swap Succeeded.");
  CHECK(seen.information);
}

void CheckFailed(const BoxSeen& seen) {
  CHECK(seen.caption == "Failure!");
  CHECK(seen.text == kFailureText);
  CHECK(seen.warning);
}

// The dialog still answers at once, and Cancel still ends the process with 0.
void CheckResponsiveThenCancel(RunningDialog& running) {
  DWORD_PTR ignored = 0;
  CHECK(SendMessageTimeoutA(running.dialog(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored) !=
        0);
  ClickAt(WindowCentre(running.item(IDCANCEL)));
  CHECK(running.process().WaitForExit(kPatience) == 0);
}

}  // namespace

TEST_CASE("OK again and again on one file named in both fields swaps it in place each time") {
  TempFolder folder;
  const std::string path = folder.Path("in place.bin");
  const Bytes original = RandomBytes(4096, 21);
  WriteBytes(path, original);

  RunningDialog running;
  running.ChooseThroughBrowse(kInputField, path);
  running.ChooseThroughBrowse(kOutputField, path);
  running.PickDataSize(1);
  for (int press = 1; press <= 8; ++press) {
    CAPTURE(press);
    CheckSucceeded(PressOk(running));
    const Bytes expected = press % 2 ? ReferenceSwap(original, 4) : original;
    CHECK(ReadBytes(path) == expected);
    // Exactly one box for each press: none is left behind the one just answered.
    CHECK(WaitForOwnedWindow(running.dialog(), "#32770", 200) == nullptr);
  }
  CheckResponsiveThenCancel(running);
}

TEST_CASE("a read-only output, alone or as the input too, fails and is left as it was") {
  TempFolder folder;
  const std::string input = folder.Path("input.bin");
  const std::string readOnly = folder.Path("read-only.bin");
  const Bytes original = RandomBytes(64, 22);
  const Bytes kept = RandomBytes(32, 23);
  WriteBytes(input, original);
  WriteBytes(readOnly, kept);
  REQUIRE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  // Only meaningful where the attribute binds: the test's own open for writing must fail too.
  HANDLE probe =
      CreateFileA(readOnly.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) CloseHandle(probe);
  REQUIRE_MESSAGE(probe == INVALID_HANDLE_VALUE,
                  "the read-only attribute does not bind here (run without root's overrides)");

  RunningDialog running;
  SetField(running, kInputField, input);
  SetField(running, kOutputField, readOnly);
  CheckFailed(PressOk(running));
  SetField(running, kInputField, readOnly);
  CheckFailed(PressOk(running));
  CHECK(ReadBytes(readOnly) == kept);
  CHECK(ReadBytes(input) == original);
  CHECK((GetFileAttributesA(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY) != 0);
  CheckResponsiveThenCancel(running);
  SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_CASE("a field longer than a path can be is refused, not cut to a file the user never named") {
  TempFolder folder;
  // The first 259 bytes of each long field name a real file, which must stay untouched.
  const std::string stem = folder.Path("");
  const std::string named = stem + std::string(259 - stem.size(), 'a');
  const Bytes original = RandomBytes(16, 24);
  WriteBytes(named, original);
  const std::string output = folder.Path("out.bin");

  RunningDialog running;
  SetField(running, kInputField, named + "b.bin");
  SetField(running, kOutputField, output);
  CheckFailed(PressOk(running));
  CHECK_FALSE(Exists(output));

  SetField(running, kInputField, folder.Path("missing.bin"));
  SetField(running, kOutputField, named + "c.bin");
  CheckFailed(PressOk(running));
  WriteBytes(folder.Path("in.bin"), original);
  SetField(running, kInputField, folder.Path("in.bin"));
  CheckFailed(PressOk(running));
  CHECK(ReadBytes(named) == original);
  CheckResponsiveThenCancel(running);
}

TEST_CASE("a cancelled chooser keeps the field, and OK afterwards still swaps") {
  TempFolder folder;
  const std::string input = folder.Path("input.bin");
  const std::string output = folder.Path("output.bin");
  const Bytes original = RandomBytes(64, 25);
  WriteBytes(input, original);

  RunningDialog running;
  SetField(running, kInputField, input);
  SetField(running, kOutputField, output);
  for (int field : {kInputField, kOutputField}) {
    CAPTURE(field);
    const std::string before = WindowText(running.item(field));
    ClickAt(running.BrowseButtonCentre(field));
    HWND chooser = WaitForOwnedWindow(running.dialog(), "#32770", kPatience);
    REQUIRE(chooser != nullptr);
    PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    CHECK(WaitFor([&] { return !IsWindow(chooser); }));
    CHECK(WindowText(running.item(field)) == before);
  }
  CheckSucceeded(PressOk(running));
  CHECK(ReadBytes(output) == ReferenceSwap(original, 2));
  CheckResponsiveThenCancel(running);
}
