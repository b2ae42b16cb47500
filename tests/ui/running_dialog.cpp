#include "running_dialog.h"

#include <doctest.h>

COLORREF ScreenPixel(POINT point) {
  HDC screen = GetDC(nullptr);
  const COLORREF colour = GetPixel(screen, point.x, point.y);
  ReleaseDC(nullptr, screen);
  return colour;
}

RunningDialog::RunningDialog() : process_(QuoteArgument(OrvanePath())) {
  REQUIRE(process_.started());
  dialog_ = WaitForProcessWindow(process_, "#32770", kPatience);
  REQUIRE(dialog_ != nullptr);
}

POINT RunningDialog::BrowseButtonCentre(int field) const {
  RECT client;
  GetClientRect(item(field), &client);
  POINT corner = {client.right, client.bottom / 2};
  ClientToScreen(item(field), &corner);
  return POINT{corner.x + 55 / 2, corner.y};
}

void RunningDialog::ChooseThroughBrowse(int field, const std::string& path) {
  ClickAt(BrowseButtonCentre(field));
  HWND chooser = WaitForOwnedWindow(dialog_, "#32770", kPatience);
  REQUIRE(chooser != nullptr);
  SendMessageA(GetDlgItem(chooser, 0x47c), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(chooser, WM_COMMAND, IDOK, 0);
  // Naming an existing file in the save chooser brings its overwrite prompt: answer Yes.
  CHECK(WaitFor([&] {
    if (HWND prompt = WaitForOwnedWindow(chooser, "#32770", 0)) {
      PostMessageA(prompt, WM_COMMAND, IDYES, 0);
    }
    return WindowText(item(field)) == path;
  }));
}

void RunningDialog::PickDataSize(int index) {
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

MessageBoxView RunningDialog::PressOkButton(bool* informationIcon, bool* warningIcon) {
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
