// Orvane.exe started without arguments and driven from the outside as a user drives it: its
// dialog found by caption, Browse buttons clicked, chooser names confirmed, the list opened and an
// entry clicked, OK clicked and the message box read and answered.
#pragma once

#include <cstdlib>
#include <string>

#include "win32_windows.h"

constexpr DWORD kPatience = 15000;
constexpr char kCaption[] = "Orvane - File Byte Swapping Utility - https://orvane.example.org";
constexpr int kInputField = 1000;
constexpr int kOutputField = 1001;
constexpr int kDataSize = 1002;

/// Polls `done` until it holds or `milliseconds` pass.
template <typename Condition>
bool WaitFor(Condition done, DWORD milliseconds = kPatience) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(20);
  }
  return true;
}

COLORREF ScreenPixel(POINT point);

/// The running program and its dialog.
class RunningDialog {
 public:
  RunningDialog();
  HWND dialog() const { return dialog_; }
  HWND item(int id) const { return GetDlgItem(dialog_, id); }
  StartedProcess& process() { return process_; }

  /// The centre of the Browse button inside a field: the strip right of its narrowed client area.
  POINT BrowseButtonCentre(int field) const;
  /// Clicks Browse in `field`, types `path` into the chooser's name field and confirms it, and
  /// confirms the overwrite prompt should one come.
  void ChooseThroughBrowse(int field, const std::string& path);
  /// Opens the list with a click and clicks entry `index`.
  void PickDataSize(int index);
  /// Clicks OK and reads, then dismisses, the message box it brings.
  MessageBoxView PressOkButton(bool* informationIcon, bool* warningIcon);

 private:
  StartedProcess process_;
  HWND dialog_ = nullptr;
};
