// Orvane.exe started without arguments, used as a user uses it: the dialog found by its caption,
// files chosen through the Browse buttons with real clicks, the data size picked from the list,
// OK pressed, the message box read and the file on disk checked; Cancel and the close box end it.
#include <doctest.h>

#include "running_dialog.h"
#include "test_files.h"

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
