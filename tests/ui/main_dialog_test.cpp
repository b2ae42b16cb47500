// The main dialog in process, built from the product's own template: its layout, its list, its
// centring, its choosers and its message boxes, and real files swapped through OK.
#include "main_dialog.h"

#include <doctest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#include "dialog_template.h"
#include "resource.h"
#include "test_files.h"
#include "win32_windows.h"

namespace {

constexpr DWORD kPatience = 10000;
const char kCaption[] = "Orvane - File Byte Swapping Utility - https://orvane.example.org";
const char kFailureText[] =
    "Swap failed. Ensure input exists and size is aligned to specified data size.";

// The dialog as RunMainDialog creates it, shown, on this thread.
class Dialog {
 public:
  Dialog() {
    window_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                 MainDialogProc, 0);
    REQUIRE(window_ != nullptr);
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
    PumpFor(20);
  }
  ~Dialog() {
    if (IsWindow(window_)) DestroyWindow(window_);
    MSG quit;
    while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  HWND window() const { return window_; }
  HWND item(int id) const { return GetDlgItem(window_, id); }
  void Command(int id) { SendMessageA(window_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  void SetText(int id, const std::string& text) { SetDlgItemTextA(window_, id, text.c_str()); }
  std::string Text(int id) const { return WindowText(item(id)); }

 private:
  HWND window_ = nullptr;
};

// The rectangle of `cx` x `cy` dialog units at `x`, `y`, in the dialog's client pixels.
RECT DialogUnitsToPixels(HWND dialog, int x, int y, int cx, int cy) {
  RECT rect = {x, y, cx, cy};
  MapDialogRect(dialog, &rect);
  return RECT{rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
}

RECT RectInClient(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

bool Near(const RECT& a, const RECT& b) {
  return std::abs(a.left - b.left) <= 1 && std::abs(a.top - b.top) <= 1 &&
         std::abs(a.right - b.right) <= 1 && std::abs(a.bottom - b.bottom) <= 1;
}

struct ControlRow {
  const char* className;
  int id;
  const char* text;
  int x, y, cx, cy;
  DWORD style;
};

// The eight controls in template order.
const ControlRow kControls[] = {
    {"Button", IDOK, "OK", 100, 56, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {"Button", IDCANCEL, "Cancel", 162, 56, 50, 14,
     WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON},
    {"Edit", IDC_INPUT_FILE, "", 56, 7, 250, 12,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {"Edit", IDC_OUTPUT_FILE, "", 56, 22, 250, 12,
     WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {"Static", -1, "Input File", 18, 9, 31, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {"Static", -1, "Output File", 13, 24, 36, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
    {"ComboBox", IDC_DATA_SIZE, "", 56, 36, 48, 90,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST},
    {"Static", -1, "Data Size", 18, 38, 31, 8, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT},
};

// The window-style bits a control of this dialog may carry, and its type bits.
constexpr DWORD kWindowBits = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | WS_GROUP |
                              WS_VSCROLL | WS_HSCROLL | WS_DISABLED | WS_POPUP | WS_CAPTION;
DWORD TypeBits(const std::string& className, DWORD style) {
  if (className == "Button") return style & BS_TYPEMASK;
  if (className == "Static") return style & SS_TYPEMASK;
  if (className == "ComboBox") return style & 3;
  return style & ES_AUTOHSCROLL;
}

// A message box this thread shows, read when it becomes active and answered with OK.
struct SeenBox {
  bool seen = false;
  MessageBoxView view;
  HICON icon = nullptr;
  HWND owner = nullptr;
};
SeenBox g_box;
HHOOK g_hook = nullptr;

LRESULT CALLBACK WatchForBox(int code, WPARAM wParam, LPARAM lParam) {
  HWND window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && ClassName(window) == "#32770" && !g_box.seen) {
    g_box.seen = true;
    g_box.view = ReadMessageBox(window);
    g_box.icon = reinterpret_cast<HICON>(SendMessageA(g_box.view.iconControl, STM_GETICON, 0, 0));
    g_box.owner = GetWindow(window, GW_OWNER);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

// Presses OK and returns the message box it showed.
SeenBox PressOkAndReadBox(Dialog& dialog) {
  g_box = SeenBox{};
  g_hook = SetWindowsHookExA(WH_CBT, WatchForBox, nullptr, GetCurrentThreadId());
  dialog.Command(IDOK);
  UnhookWindowsHookEx(g_hook);
  return g_box;
}

void CheckSuccessBox(const SeenBox& box, HWND dialog) {
  REQUIRE(box.seen);
  CHECK(box.view.caption == "Swap Success!");
  CHECK(box.view.text == "Swap Succeeded.");
  CHECK(box.icon == LoadIconA(nullptr, IDI_INFORMATION));
  CHECK(box.owner == dialog);
  REQUIRE(box.view.buttons.size() == 1);
  CHECK(box.view.buttons[0].first == IDOK);
}

void CheckFailureBox(const SeenBox& box, HWND dialog) {
  REQUIRE(box.seen);
  CHECK(box.view.caption == "Failure!");
  CHECK(box.view.text == kFailureText);
  CHECK(box.icon == LoadIconA(nullptr, IDI_WARNING));
  CHECK(box.owner == dialog);
  REQUIRE(box.view.buttons.size() == 1);
  CHECK(box.view.buttons[0].first == IDOK);
}

// A path of exactly `length` bytes naming a file in `folder`.
std::string PathOfLength(const TempFolder& folder, size_t length) {
  const std::string prefix = folder.Path("");
  REQUIRE(length > prefix.size() + 4);
  return prefix + std::string(length - prefix.size() - 4, 'p') + ".bin";
}

// What a user does in a file chooser: read it, then cancel or type a name and confirm, answering
// the chooser's own prompt with Yes when one comes. Runs on a thread of its own while the dialog's
// thread sits in the chooser.
struct ChooserVisit {
  HWND owner = nullptr;
  std::string answer;  ///< empty: cancel
  bool expectPrompt = false;
  // What was seen.
  bool found = false;
  std::string title, filter, startName;
  int filterCount = 0;
  bool sawPrompt = false;
};

DWORD WINAPI VisitChooser(void* parameter) {
  auto* visit = static_cast<ChooserVisit*>(parameter);
  HWND chooser = WaitForOwnedWindow(visit->owner, "#32770", kPatience);
  if (!chooser) return 0;
  visit->found = true;
  visit->title = WindowText(chooser);
  HWND filter = GetDlgItem(chooser, 0x470);  // cmb1, the file types
  visit->filter = WindowText(filter);
  visit->filterCount = static_cast<int>(SendMessageA(filter, CB_GETCOUNT, 0, 0));
  HWND name = GetDlgItem(chooser, 0x47c);  // cmb13, the file name
  visit->startName = WindowText(name);
  if (visit->answer.empty()) {
    PostMessageA(chooser, WM_COMMAND, IDCANCEL, 0);
    return 0;
  }
  SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(visit->answer.c_str()));
  PostMessageA(chooser, WM_COMMAND, IDOK, 0);
  if (visit->expectPrompt) {
    if (HWND prompt = WaitForOwnedWindow(chooser, "#32770", kPatience)) {
      visit->sawPrompt = true;
      PostMessageA(prompt, WM_COMMAND, IDYES, 0);
    }
  }
  return 0;
}

// Runs a Browse command with a visitor answering the chooser.
void Browse(Dialog& dialog, int command, ChooserVisit& visit) {
  visit.owner = dialog.window();
  HANDLE thread = CreateThread(nullptr, 0, VisitChooser, &visit, 0, nullptr);
  REQUIRE(thread != nullptr);
  dialog.Command(command);
  WaitForSingleObject(thread, kPatience);
  CloseHandle(thread);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

TEST_CASE("the template: an extended dialog with its style, size, font and caption") {
  const DialogTemplate dialog = ReadDialogTemplate(GetModuleHandleA(nullptr), IDD_MAIN);
  REQUIRE(dialog.extended);
  CHECK(dialog.style == (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS));
  CHECK(dialog.exStyle == 0);
  CHECK(dialog.helpId == 0);
  CHECK((dialog.x == 0 && dialog.y == 0 && dialog.cx == 313 && dialog.cy == 77));
  CHECK_FALSE(dialog.hasMenu);
  CHECK_FALSE(dialog.hasClass);
  CHECK(dialog.caption == kCaption);
  CHECK(dialog.typeface == "MS Shell Dlg");
  CHECK(dialog.pointSize == 8);
  CHECK(dialog.weight == 400);
  CHECK(dialog.italic == 0);
  CHECK(dialog.charset == 1);
  REQUIRE(dialog.items.size() == 8);
  for (size_t i = 0; i < dialog.items.size(); ++i) {
    const TemplateItem& item = dialog.items[i];
    const ControlRow& row = kControls[i];
    CAPTURE(i);
    CHECK(item.className == row.className);
    CHECK(static_cast<int>(item.id) == row.id);
    CHECK(item.text == row.text);
    CHECK((item.x == row.x && item.y == row.y && item.cx == row.cx && item.cy == row.cy));
    CHECK(item.style == row.style);
    CHECK(item.exStyle == 0);
    CHECK(item.helpId == 0);
  }
}

TEST_CASE("the dialog as created: caption, size and the eight controls in place") {
  Dialog dialog;
  HWND window = dialog.window();
  CHECK(WindowText(window) == kCaption);
  RECT client;
  GetClientRect(window, &client);
  CHECK(Near(client, DialogUnitsToPixels(window, 0, 0, 313, 77)));

  HWND control = GetWindow(window, GW_CHILD);
  for (const ControlRow& row : kControls) {
    CAPTURE(row.text);
    CAPTURE(row.id);
    REQUIRE(control != nullptr);
    CHECK(ClassName(control) == row.className);
    CHECK(static_cast<short>(GetDlgCtrlID(control)) == row.id);
    const DWORD style = GetWindowLongA(control, GWL_STYLE);
    // The combo box hands its scroll bar on to its list; an edit's border may become an edge.
    const DWORD moved = WS_BORDER | (std::string(row.className) == "ComboBox" ? WS_VSCROLL : 0);
    CHECK((style & kWindowBits & ~moved) == (row.style & kWindowBits & ~moved));
    CHECK(TypeBits(row.className, style) == TypeBits(row.className, row.style));
    if (std::string(row.className) == "Edit") {
      // The path field carries its Browse button, and its frame comes from WS_BORDER.
      CHECK(WindowText(control).empty());
      CHECK(((style & WS_BORDER) || (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)));
    } else if (std::string(row.className) != "ComboBox") {
      CHECK(WindowText(control) == row.text);
    }
    RECT expected = DialogUnitsToPixels(window, row.x, row.y, row.cx, row.cy);
    if (std::string(row.className) == "ComboBox") {
      // The window is the closed height; the template's height bounds the control with its list
      // open (Wine shrinks the open list to its three entries).
      RECT dropped;
      SendMessageA(control, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
      CHECK(dropped.bottom - dropped.top <= expected.bottom - expected.top + 1);
      expected.bottom = expected.top + (RectInClient(control).bottom - RectInClient(control).top);
    }
    const RECT actual = RectInClient(control);
    CAPTURE(actual.left);
    CAPTURE(actual.top);
    CAPTURE(actual.right);
    CAPTURE(actual.bottom);
    CHECK(Near(actual, expected));
    control = GetWindow(control, GW_HWNDNEXT);
  }
  CHECK(control == nullptr);
}

TEST_CASE("the data-size list: 64, 32 and 16 bit from the top, 16 bit selected") {
  Dialog dialog;
  HWND combo = dialog.item(IDC_DATA_SIZE);
  const struct {
    const char* text;
    LPARAM bits;
  } expected[] = {{"64 bit", 64}, {"32 bit", 32}, {"16 bit", 16}};
  REQUIRE(SendMessageA(combo, CB_GETCOUNT, 0, 0) == 3);
  for (int i = 0; i < 3; ++i) {
    char text[32] = "";
    SendMessageA(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    CHECK(std::string(text) == expected[i].text);
    CHECK(SendMessageA(combo, CB_GETITEMDATA, i, 0) == expected[i].bits);
  }
  CHECK(SendMessageA(combo, CB_GETCURSEL, 0, 0) == 2);
  CHECK(WindowText(combo) == "16 bit");

  // Opened, the list shows all three under the field, "64 bit" on top, "16 bit" selected at the
  // bottom.
  SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  REQUIRE(GetComboBoxInfo(combo, &info));
  RECT list;
  GetWindowRect(info.hwndList, &list);
  RECT field;
  GetWindowRect(combo, &field);
  CHECK(IsWindowVisible(info.hwndList));
  CHECK(list.top == field.bottom);
  const LRESULT itemHeight = SendMessageA(info.hwndList, LB_GETITEMHEIGHT, 0, 0);
  CHECK(list.bottom - list.top >= 3 * itemHeight);
  CHECK(SendMessageA(info.hwndList, LB_GETTOPINDEX, 0, 0) == 0);
  CHECK(SendMessageA(info.hwndList, LB_GETCURSEL, 0, 0) == 2);
  SendMessageA(combo, CB_SHOWDROPDOWN, FALSE, 0);
}

TEST_CASE("the dialog opens centred on the desktop, its margins equal within a pixel") {
  Dialog dialog;
  RECT desktop;
  GetWindowRect(GetDesktopWindow(), &desktop);
  RECT window;
  GetWindowRect(dialog.window(), &window);
  CHECK(std::abs((window.left - desktop.left) - (desktop.right - window.right)) <= 1);
  CHECK(std::abs((window.top - desktop.top) - (desktop.bottom - window.bottom)) <= 1);
}

TEST_CASE("CenterWindow over a given window, halves truncated separately") {
  Dialog dialog;
  // An even reference and an odd window: halving each (150 - 25) and halving the difference (249 /
  // 2) differ by one.
  HWND reference = CreateWindowExA(0, "Static", "", WS_POPUP, 101, 51, 300, 200, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
  SetWindowPos(dialog.window(), nullptr, 0, 0, 51, 31, SWP_NOMOVE | SWP_NOZORDER);
  CenterWindow(dialog.window(), reference);
  RECT window;
  GetWindowRect(dialog.window(), &window);
  CHECK(window.left == 101 + (150 - 25));
  CHECK(window.top == 51 + (100 - 15));
  CHECK(window.right - window.left == 51);
  DestroyWindow(reference);
}

TEST_CASE("ComboSelectByItemData and ComboGetSelectedItemData") {
  Dialog dialog;
  HWND combo = dialog.item(IDC_DATA_SIZE);
  const struct {
    LPARAM value;
    int index;
    int selectedAfter;
  } cases[] = {{64, 0, 0}, {16, 2, 2}, {32, 1, 1}, {8, -1, 1}, {0, -1, 1}};
  for (const auto& testCase : cases) {
    CAPTURE(testCase.value);
    CHECK(ComboSelectByItemData(combo, testCase.value) == testCase.index);
    CHECK(SendMessageA(combo, CB_GETCURSEL, 0, 0) == testCase.selectedAfter);
    LPARAM data = -7;
    CHECK(ComboGetSelectedItemData(combo, &data));
    CHECK(data == (testCase.selectedAfter == 0 ? 64 : testCase.selectedAfter == 1 ? 32 : 16));
    CHECK(ComboGetSelectedItemData(combo, nullptr));
  }
  SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  LPARAM untouched = -7;
  CHECK_FALSE(ComboGetSelectedItemData(combo, &untouched));
  CHECK(untouched == -7);
}

TEST_CASE("OK swaps the named files and reports the outcome in a message box") {
  TempFolder folder;
  const Bytes original = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  const std::string input = folder.Path("in.bin");
  const std::string output = folder.Path("out.bin");
  const std::string exact = PathOfLength(folder, 259);
  const std::string cutToExisting = PathOfLength(folder, 259);

  struct Case {
    const char* name;
    std::string input, output;
    int selection;  // list index, or -1 for none
    bool succeeds;
    Bytes expected;  // the output afterwards; empty: not created
  };
  const Case cases[] = {
      {"both fields empty", "", "", 2, false, {}},
      {"32 bit", input, output, 1, true, ReferenceSwap(original, 4)},
      {"64 bit", input, output, 0, true, ReferenceSwap(original, 8)},
      {"16 bit, as selected at start", input, output, 2, true, ReferenceSwap(original, 2)},
      {"nothing selected swaps 16 bit", input, output, -1, true, ReferenceSwap(original, 2)},
      {"missing input", folder.Path("missing.bin"), output, 1, false, {}},
      {"input of 6 bytes with 32 bit", folder.Path("six.bin"), output, 1, false, {}},
      {"a path of exactly 259 bytes is read whole", exact, output, 1, true,
       ReferenceSwap(original, 4)},
      // Longer than the 259 bytes a field may hold: cut, they would name an existing file.
      {"input longer than 259 bytes", exact + "x", output, 1, false, {}},
      {"output longer than 259 bytes", input, cutToExisting + ".out", 1, false, {}},
  };
  for (const Case& testCase : cases) {
    CAPTURE(testCase.name);
    WriteBytes(input, original);
    WriteBytes(exact, original);
    WriteBytes(folder.Path("six.bin"), {1, 2, 3, 4, 5, 6});
    std::filesystem::remove(output);
    Dialog dialog;
    dialog.SetText(IDC_INPUT_FILE, testCase.input);
    dialog.SetText(IDC_OUTPUT_FILE, testCase.output);
    SendMessageA(dialog.item(IDC_DATA_SIZE), CB_SETCURSEL, testCase.selection, 0);

    const SeenBox box = PressOkAndReadBox(dialog);
    if (testCase.succeeds) {
      CheckSuccessBox(box, dialog.window());
    } else {
      CheckFailureBox(box, dialog.window());
    }
    if (testCase.expected.empty()) {
      CHECK_FALSE(Exists(output));
    } else {
      CHECK(ReadBytes(output) == testCase.expected);
    }
    CHECK(ReadBytes(input) == original);
    CHECK(ReadBytes(exact) == original);
    // The fields keep what they held.
    CHECK(dialog.Text(IDC_INPUT_FILE) == testCase.input);
    CHECK(dialog.Text(IDC_OUTPUT_FILE) == testCase.output);
    CHECK(IsWindowVisible(dialog.window()));
  }
}

TEST_CASE("two swaps in a row read the fields and the list again") {
  TempFolder folder;
  const Bytes original = RandomBytes(64, 7);
  WriteBytes(folder.Path("in.bin"), original);
  Dialog dialog;
  dialog.SetText(IDC_INPUT_FILE, folder.Path("in.bin"));
  dialog.SetText(IDC_OUTPUT_FILE, folder.Path("first.bin"));
  SendMessageA(dialog.item(IDC_DATA_SIZE), CB_SETCURSEL, 1, 0);
  CheckSuccessBox(PressOkAndReadBox(dialog), dialog.window());

  dialog.SetText(IDC_INPUT_FILE, folder.Path("first.bin"));
  dialog.SetText(IDC_OUTPUT_FILE, folder.Path("second.bin"));
  SendMessageA(dialog.item(IDC_DATA_SIZE), CB_SETCURSEL, 0, 0);
  CheckSuccessBox(PressOkAndReadBox(dialog), dialog.window());

  CHECK(ReadBytes(folder.Path("first.bin")) == ReferenceSwap(original, 4));
  CHECK(ReadBytes(folder.Path("second.bin")) == ReferenceSwap(ReferenceSwap(original, 4), 8));
}

TEST_CASE("the choosers: titles, filter, an empty starting name; cancel keeps, confirm replaces") {
  TempFolder folder;
  const std::string existing = folder.Path("existing.bin");
  WriteBytes(existing, {1, 2});
  const std::string fresh = folder.Path("fresh");

  struct Case {
    const char* name;
    int command;
    int field;
    const char* title;
    std::string answer;
    bool prompt;  // the chooser asks first (create or overwrite)
    std::string expectedField;
  };
  const Case cases[] = {
      {"open, cancelled", IDC_BROWSE_INPUT, IDC_INPUT_FILE, "Select Input File...", "", false,
       "kept"},
      {"open, an existing file", IDC_BROWSE_INPUT, IDC_INPUT_FILE, "Select Input File...", existing,
       false, existing},
      {"open, a missing file after the create prompt", IDC_BROWSE_INPUT, IDC_INPUT_FILE,
       "Select Input File...", fresh, true, fresh},
      {"save, cancelled", IDC_BROWSE_OUTPUT, IDC_OUTPUT_FILE, "Select Output File...", "", false,
       "kept"},
      {"save, a new file", IDC_BROWSE_OUTPUT, IDC_OUTPUT_FILE, "Select Output File...", fresh,
       false, fresh},
      {"save, an existing file after the overwrite prompt", IDC_BROWSE_OUTPUT, IDC_OUTPUT_FILE,
       "Select Output File...", existing, true, existing},
  };
  for (const Case& testCase : cases) {
    CAPTURE(testCase.name);
    Dialog dialog;
    const int other = testCase.field == IDC_INPUT_FILE ? IDC_OUTPUT_FILE : IDC_INPUT_FILE;
    dialog.SetText(testCase.field, "kept");
    dialog.SetText(other, "other");
    ChooserVisit visit;
    visit.answer = testCase.answer;
    visit.expectPrompt = testCase.prompt;
    Browse(dialog, testCase.command, visit);
    REQUIRE(visit.found);
    CHECK(visit.title == testCase.title);
    CHECK(visit.filter == "All Files (*.*)");
    CHECK(visit.filterCount == 1);
    CHECK(visit.startName.empty());
    CHECK(visit.sawPrompt == testCase.prompt);
    CHECK(Lower(dialog.Text(testCase.field)) == Lower(testCase.expectedField));
    CHECK(dialog.Text(other) == "other");
    CHECK(ReadBytes(existing) == Bytes{1, 2});
    CHECK_FALSE(Exists(fresh));
  }
}

TEST_CASE("Cancel and the close box destroy the dialog and post quit with 0") {
  for (const bool closeBox : {false, true}) {
    CAPTURE(closeBox);
    Dialog dialog;
    if (closeBox) {
      SendMessageA(dialog.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    } else {
      dialog.Command(IDCANCEL);
    }
    // The close box's WM_CLOSE comes back as a posted Cancel: run the loop until the quit message.
    MSG message{};
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kPatience) {
      if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        Sleep(5);
        continue;
      }
      if (message.message == WM_QUIT) break;
      DispatchMessageA(&message);
    }
    REQUIRE(message.message == WM_QUIT);
    CHECK(message.wParam == 0);
    CHECK_FALSE(IsWindow(dialog.window()));
  }
}

TEST_CASE("RunMainDialog runs until the dialog is closed and returns 0") {
  // The dialog is found from another thread, as a user would find it, and closed there.
  struct Closer {
    static DWORD WINAPI Run(void* found) {
      const DWORD start = GetTickCount();
      while (GetTickCount() - start < kPatience) {
        HWND dialog = FindWindowA("#32770", kCaption);
        if (dialog && IsWindowVisible(dialog)) {
          *static_cast<HWND*>(found) = dialog;
          PostMessageA(dialog, WM_CLOSE, 0, 0);
          return 0;
        }
        Sleep(20);
      }
      return 0;
    }
  };
  HWND found = nullptr;
  HANDLE thread = CreateThread(nullptr, 0, Closer::Run, &found, 0, nullptr);
  CHECK(RunMainDialog(GetModuleHandleA(nullptr), SW_SHOWNORMAL) == 0);
  WaitForSingleObject(thread, kPatience);
  CloseHandle(thread);
  CHECK(found != nullptr);
  CHECK_FALSE(IsWindow(found));
}
