// Orvane.exe started without arguments, used as a user uses it: the dialog found by its caption,
// files chosen through the Browse buttons with real clicks, the data size picked from the list,
// OK pressed, the message box read and the file on disk checked; Cancel and the close box end it.
#include <doctest.h>

#include <cstdlib>

#include "test_files.h"
#include "win32_windows.h"

namespace {

constexpr DWORD kPatience = 15000;
const char kCaption[] = "Orvane - File Byte Swapping Utility - https://orvane.example.org";
constexpr int kInputField = 1000;
constexpr int kOutputField = 1001;
constexpr int kDataSize = 1002;

std::string OrvanePath() {
  const char* path = getenv("ORVANE_EXE");
  REQUIRE_MESSAGE(path != nullptr, "ORVANE_EXE names the program under test");
  return HostPathToWindows(path);
}

template <typename Condition>
bool WaitFor(Condition done, DWORD milliseconds = kPatience) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(20);
  }
  return true;
}

// The running program and its dialog.
class RunningDialog {
 public:
  RunningDialog() : process_(QuoteArgument(OrvanePath())) {
    REQUIRE(process_.started());
    dialog_ = WaitForProcessWindow(process_, "#32770", kPatience);
    REQUIRE(dialog_ != nullptr);
  }
  HWND dialog() const { return dialog_; }
  HWND item(int id) const { return GetDlgItem(dialog_, id); }
  StartedProcess& process() { return process_; }

  // The centre of the Browse button inside a field: the strip right of its narrowed client area.
  POINT BrowseButtonCentre(int field) const {
    RECT client;
    GetClientRect(item(field), &client);
    POINT corner = {client.right, client.bottom / 2};
    ClientToScreen(item(field), &corner);
    return POINT{corner.x + 55 / 2, corner.y};
  }

  // Clicks Browse in `field`, types `path` into the chooser's name field and confirms it.
  void ChooseThroughBrowse(int field, const std::string& path) {
    ClickAt(BrowseButtonCentre(field));
    HWND chooser = WaitForOwnedWindow(dialog_, "#32770", kPatience);
    REQUIRE(chooser != nullptr);
    SendMessageA(GetDlgItem(chooser, 0x47c), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(chooser, WM_COMMAND, IDOK, 0);
    CHECK(WaitFor([&] { return WindowText(item(field)) == path; }));
  }

  // Opens the list with a click and clicks entry `index`.
  void PickDataSize(int index) {
    HWND combo = item(kDataSize);
    ClickAt(WindowCentre(combo));
    // The open list is a top-level window of the program's own.
    HWND list = WaitForProcessWindow(process_, "ComboLBox", kPatience);
    REQUIRE(list != nullptr);
    const int itemHeight = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
    POINT entry = {10, itemHeight * index + itemHeight / 2};
    ClientToScreen(list, &entry);
    ClickAt(entry);
    CHECK(WaitFor([&] { return SendMessageA(combo, CB_GETCURSEL, 0, 0) == index; }));
    CHECK(WaitFor([&] { return !IsWindowVisible(list); }));
  }

  // Clicks OK and reads, then dismisses, the message box it brings.
  MessageBoxView PressOkButton(bool* informationIcon, bool* warningIcon) {
    ClickAt(WindowCentre(item(IDOK)));
    HWND box = WaitForOwnedWindow(dialog_, "#32770", kPatience);
    REQUIRE(box != nullptr);
    const MessageBoxView view = ReadMessageBox(box);
    *informationIcon = ShowsSystemIcon(view.iconControl, IDI_INFORMATION);
    *warningIcon = ShowsSystemIcon(view.iconControl, IDI_WARNING);
    PressOk(box);
    CHECK(WaitFor([&] { return !IsWindow(box); }));
    return view;
  }

 private:
  StartedProcess process_;
  HWND dialog_ = nullptr;
};

COLORREF ScreenPixel(POINT point) {
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, point.x, point.y);
  ReleaseDC(nullptr, screen);
  return colour;
}

}  // namespace

TEST_CASE("two swaps through the dialog with the mouse alone, then Cancel ends it with 0") {
  TempFolder folder;
  const Bytes original = RandomBytes(256, 3);
  const std::string input = folder.Path("input.bin");
  const std::string first = folder.Path("first.bin");
  const std::string second = folder.Path("second.bin");
  WriteBytes(input, original);

  RunningDialog running;
  CHECK(WindowText(running.dialog()) == kCaption);

  running.ChooseThroughBrowse(kInputField, input);
  running.ChooseThroughBrowse(kOutputField, first);
  running.PickDataSize(1);
  CHECK(WindowText(running.item(kDataSize)) == "32 bit");
  bool information = false;
  bool warning = false;
  MessageBoxView box = running.PressOkButton(&information, &warning);
  CHECK(box.caption == "Swap Success!");
  CHECK(box.text == "Swap Succeeded.");
  CHECK(information);
  REQUIRE(box.buttons.size() == 1);
  CHECK(box.buttons[0].second == "OK");
  CHECK(ReadBytes(first) == ReferenceSwap(original, 4));
  CHECK(ReadBytes(input) == original);

  // The second swap reads the fields and the list again.
  running.ChooseThroughBrowse(kInputField, first);
  running.ChooseThroughBrowse(kOutputField, second);
  running.PickDataSize(0);
  box = running.PressOkButton(&information, &warning);
  CHECK(box.caption == "Swap Success!");
  CHECK(ReadBytes(second) == ReferenceSwap(ReferenceSwap(original, 4), 8));

  ClickAt(WindowCentre(running.item(IDCANCEL)));
  CHECK(running.process().WaitForExit(kPatience) == 0);
}

TEST_CASE("OK with empty fields shows the failure box; the close box ends it with 0") {
  RunningDialog running;
  bool information = false;
  bool warning = false;
  const MessageBoxView box = running.PressOkButton(&information, &warning);
  CHECK(box.caption == "Failure!");
  CHECK(box.text == "Swap failed. Ensure input exists and size is aligned to specified data size.");
  CHECK(warning);
  CHECK_FALSE(information);
  CHECK(IsWindowVisible(running.dialog()));

  // The close box, found where the dialog itself says it is.
  RECT window;
  GetWindowRect(running.dialog(), &window);
  const int frame = GetSystemMetrics(SM_CXFIXEDFRAME);
  const POINT close = {window.right - frame - GetSystemMetrics(SM_CXSIZE) / 2,
                       window.top + frame + GetSystemMetrics(SM_CYCAPTION) / 2};
  REQUIRE(SendMessageA(running.dialog(), WM_NCHITTEST, 0, MAKELPARAM(close.x, close.y)) == HTCLOSE);
  ClickAt(close);
  CHECK(running.process().WaitForExit(kPatience) == 0);
}

TEST_CASE("a Browse button held down looks pushed; released off it, it opens nothing") {
  RunningDialog running;
  HWND field = running.item(kOutputField);
  RECT client;
  GetClientRect(field, &client);
  POINT topLeft = {client.right, 0};  // the button's top-left pixel, on its edge
  ClientToScreen(field, &topLeft);
  const POINT centre = running.BrowseButtonCentre(kOutputField);
  // A raised edge starts with the light 3-D colour at its top-left; wait for the first painting.
  const COLORREF raised = GetSysColor(COLOR_3DLIGHT);
  REQUIRE(WaitFor([&] { return ScreenPixel(topLeft) == raised; }));

  MoveMouse(centre);
  PressLeftButton(centre);
  CHECK(WaitFor([&] { return ScreenPixel(topLeft) != raised; }));
  const POINT away = {centre.x, centre.y + 60};
  MoveMouse(away);
  CHECK(WaitFor([&] { return ScreenPixel(topLeft) == raised; }));
  ReleaseLeftButton(away);
  // Nothing opens: the dialog answers a further click at once, with no chooser in between.
  CHECK_FALSE(
      WaitFor([&] { return WaitForOwnedWindow(running.dialog(), "#32770", 0) != nullptr; }, 500));
  ClickAt(WindowCentre(running.item(IDCANCEL)));
  CHECK(running.process().WaitForExit(kPatience) == 0);
}
