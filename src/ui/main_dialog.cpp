#include "main_dialog.h"

#include <commdlg.h>

#include <cstddef>

#include "browse_button.h"
#include "resource.h"
#include "swap.h"

namespace {

// The platform's MAX_PATH: a field's path holds at most 259 bytes of text.
constexpr int kPathBufferSize = MAX_PATH;
constexpr unsigned kDefaultDataSizeBits = 16;
constexpr char kFilter[] = "All Files (*.*)\0*.*\0";

// The full record, with pvReserved, dwReserved and FlagsEx, not the older short form.
static_assert(offsetof(OPENFILENAMEA, FlagsEx) > offsetof(OPENFILENAMEA, lpTemplateName),
              "full-size OPENFILENAMEA");

// The common dialogs bring much of the shell with them, and only Browse needs them: loaded on its
// first use, they stay out of a command-line run's start-up (about a third of it under Wine).
using FileChooser = BOOL(WINAPI*)(LPOPENFILENAMEA);
HMODULE commonDialogs;

void OnInitDialog(HWND dialog) {
  CenterWindow(dialog, nullptr);
  AttachBrowseButton(GetDlgItem(dialog, IDC_INPUT_FILE), IDC_BROWSE_INPUT);
  AttachBrowseButton(GetDlgItem(dialog, IDC_OUTPUT_FILE), IDC_BROWSE_OUTPUT);
  HWND combo = GetDlgItem(dialog, IDC_DATA_SIZE);
  static const struct {
    const char* text;
    LPARAM bits;
  } kEntries[] = {{"16 bit", 16}, {"32 bit", 32}, {"64 bit", 64}};
  // Each entry goes in at the top, so the list reads 64, 32, 16 from top to bottom.
  for (const auto& entry : kEntries) {
    const LRESULT index =
        SendMessageA(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(entry.text));
    SendMessageA(combo, CB_SETITEMDATA, index, entry.bits);
  }
  ComboSelectByItemData(combo, kDefaultDataSizeBits);
}

// Reads a path field whole into `path`. A longer text does not fit and is refused rather than cut:
// its first 259 bytes would name a file the user never chose.
bool ReadPathField(HWND dialog, int id, char (&path)[kPathBufferSize]) {
  if (GetWindowTextLengthA(GetDlgItem(dialog, id)) >= kPathBufferSize) return false;
  GetDlgItemTextA(dialog, id, path, kPathBufferSize);
  return true;
}

void OnOk(HWND dialog) {
  LPARAM dataSizeBits = kDefaultDataSizeBits;
  ComboGetSelectedItemData(GetDlgItem(dialog, IDC_DATA_SIZE), &dataSizeBits);
  char input[kPathBufferSize];
  char output[kPathBufferSize];
  const bool swapped = ReadPathField(dialog, IDC_INPUT_FILE, input) &&
                       ReadPathField(dialog, IDC_OUTPUT_FILE, output) &&
                       SwapFileByteOrder(input, output, static_cast<unsigned>(dataSizeBits));
  if (swapped) {
    MessageBoxA(dialog, "Swap Succeeded.", "Swap Success!", MB_OK | MB_ICONINFORMATION);
  } else {
    MessageBoxA(dialog,
                "Swap failed. Ensure input exists and size is aligned to specified data size.",
                "Failure!", MB_OK | MB_ICONWARNING);
  }
}

// Each Browse starts from an empty name, whatever the field holds; a cancelled chooser leaves it.
void OnBrowse(HWND dialog, bool save, int fieldId, const char* title) {
  char path[kPathBufferSize] = "";
  if (ChooseFile(dialog, save, nullptr, path, nullptr, title, 0, kFilter, nullptr)) {
    SetDlgItemTextA(dialog, fieldId, path);
  }
}

void OnCommand(HWND dialog, WORD command) {
  switch (command) {
    case IDOK:
      OnOk(dialog);
      break;
    case IDCANCEL:
      DestroyWindow(dialog);
      break;
    case IDC_BROWSE_INPUT:
      OnBrowse(dialog, false, IDC_INPUT_FILE, "Select Input File...");
      break;
    case IDC_BROWSE_OUTPUT:
      OnBrowse(dialog, true, IDC_OUTPUT_FILE, "Select Output File...");
      break;
  }
}

}  // namespace

int RunMainDialog(HINSTANCE instance, int showCommand) {
  HWND dialog =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
  if (!dialog) return 0;
  ShowWindow(dialog, showCommand);
  UpdateWindow(dialog);
  // No IsDialogMessage: the dialog has no keyboard navigation, by design.
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) != 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      break;
    case WM_COMMAND:
      OnCommand(dialog, LOWORD(wParam));
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      break;
  }
  return FALSE;
}

void CenterWindow(HWND window, HWND reference) {
  if (!reference) reference = GetDesktopWindow();
  RECT windowRect;
  RECT referenceRect;
  GetWindowRect(window, &windowRect);
  GetWindowRect(reference, &referenceRect);
  const int windowWidth = windowRect.right - windowRect.left;
  const int windowHeight = windowRect.bottom - windowRect.top;
  const int referenceWidth = referenceRect.right - referenceRect.left;
  const int referenceHeight = referenceRect.bottom - referenceRect.top;
  const int x = referenceRect.left + (referenceWidth / 2 - windowWidth / 2);
  const int y = referenceRect.top + (referenceHeight / 2 - windowHeight / 2);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int ComboSelectByItemData(HWND combo, LPARAM value) {
  const int count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    if (SendMessageA(combo, CB_GETITEMDATA, i, 0) == value) {
      SendMessageA(combo, CB_SETCURSEL, i, 0);
      return i;
    }
  }
  return -1;
}

bool ComboGetSelectedItemData(HWND combo, LPARAM* out) {
  const LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR) return false;
  if (out) *out = SendMessageA(combo, CB_GETITEMDATA, index, 0);
  return true;
}

bool ChooseFile(HWND owner, bool save, const char* initialFolder, char* fileBuffer,
                char* fileTitleBuffer, const char* title, DWORD filterIndex, const char* filter,
                const char* defaultExtension) {
  OPENFILENAMEA chooser = {};
  chooser.lStructSize = sizeof chooser;
  chooser.hwndOwner = owner;
  chooser.lpstrFilter = filter;
  chooser.nFilterIndex = filterIndex;
  chooser.lpstrFile = fileBuffer;
  chooser.nMaxFile = kPathBufferSize;
  chooser.lpstrFileTitle = fileTitleBuffer;
  chooser.nMaxFileTitle = kPathBufferSize;
  chooser.lpstrInitialDir = initialFolder;
  chooser.lpstrTitle = title;
  chooser.Flags = OFN_OVERWRITEPROMPT | OFN_CREATEPROMPT;
  chooser.lpstrDefExt = defaultExtension;
  if (!commonDialogs) commonDialogs = LoadLibraryA("comdlg32.dll");
  if (!commonDialogs) return false;
  const FARPROC run = GetProcAddress(commonDialogs, save ? "GetSaveFileNameA" : "GetOpenFileNameA");
  return run && reinterpret_cast<FileChooser>(reinterpret_cast<void*>(run))(&chooser) != FALSE;
}
