// The dialog front end: one modeless dialog (template IDD_MAIN) in which the user names an input
// and an output file, picks the data size and presses OK to swap; it stays open until Cancel or
// close.
#pragma once

#include <windows.h>

/// Runs the dialog until it is closed; returns the exit code (0, also when it cannot be created).
int RunMainDialog(HINSTANCE instance, int showCommand);

/// The dialog's procedure; returns 0 for every message, handled or not.
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

/// Centres `window` over `reference`, or over the desktop when `reference` is null.
void CenterWindow(HWND window, HWND reference);

/// Selects the first entry of `combo` whose item data is `value`; returns its index, or -1 with the
/// selection left alone.
int ComboSelectByItemData(HWND combo, LPARAM value);

/// False when nothing is selected; otherwise stores the selected entry's item data through `out`
/// (when given) and returns true.
bool ComboGetSelectedItemData(HWND combo, LPARAM* out);

/// Runs the save chooser when `save` is set, else the open chooser; true when the user confirmed a
/// name, which is then in `fileBuffer` (260 bytes, its contents also the starting name).
bool ChooseFile(HWND owner, bool save, const char* initialFolder, char* fileBuffer,
                char* fileTitleBuffer, const char* title, DWORD filterIndex, const char* filter,
                const char* defaultExtension);
