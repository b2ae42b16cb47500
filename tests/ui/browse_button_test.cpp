// The Browse button inside an edit's frame as a user meets it: a real edit in a real window, driven
// by real mouse input and by posted messages, judged by what reaches the parent and by the pixels
// on screen.
#include "browse_button.h"

#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "win32_windows.h"

namespace {

// Only the low 16 bits of the identifier travel; the high ones must not leak into the high word.
constexpr int kCommandId = 0x70000 | 12345;
constexpr WORD kPostedId = 12345;
constexpr int kButtonWidth = 55;
constexpr DWORD kPatience = 3000;

// What the parent received, apart from the edit's own notifications (whose lParam is the edit).
struct Command {
  WPARAM wParam;
  LPARAM lParam;
  bool sent;
  bool stillTracking;  ///< the press was still being followed when the command arrived
};
std::vector<Command> g_commands;
HWND g_edit = nullptr;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && lParam != reinterpret_cast<LPARAM>(g_edit)) {
    // A posted command arrives after the release has been handled; a sent one would arrive in it.
    const auto* record =
        reinterpret_cast<const BrowseButton*>(GetWindowLongPtrA(g_edit, GWLP_USERDATA));
    g_commands.push_back(
        {wParam, lParam, InSendMessage() != FALSE, record != nullptr && record->tracking != 0});
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

const char* ParentClass() {
  static const char kName[] = "OrvaneBrowseTestParent";
  static bool registered = false;
  if (!registered) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kName;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    registered = RegisterClassA(&windowClass) != 0;
  }
  return kName;
}

// A field the size of the dialog's path fields (250 x 12 dialog units at "MS Shell Dlg" 8) in a
// visible window of its own.
class Field {
 public:
  explicit Field(bool attach = true, DWORD extraStyle = 0, POINT at = {100, 100}) {
    parent_ = CreateWindowExA(0, ParentClass(), "Browse test", WS_POPUP | WS_VISIBLE, at.x, at.y,
                              480, 80, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    edit_ = CreateWindowExA(0, "Edit", "",
                            WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL | extraStyle, 20, 20,
                            438, 20, parent_, nullptr, GetModuleHandleA(nullptr), nullptr);
    g_edit = edit_;
    if (attach) Attach();
    SetForegroundWindow(parent_);
    UpdateWindow(parent_);
    PumpFor(50);
    g_commands.clear();
  }
  ~Field() {
    DestroyWindow(parent_);
    PumpFor(10);
  }
  Field(const Field&) = delete;
  Field& operator=(const Field&) = delete;

  void Attach() { REQUIRE(AttachBrowseButton(edit_, kCommandId)); }
  HWND edit() const { return edit_; }
  const BrowseButton& record() const {
    return *reinterpret_cast<const BrowseButton*>(GetWindowLongPtrA(edit_, GWLP_USERDATA));
  }

  // The button's rectangle relative to the window's top-left corner, from the frame as it was
  // before attaching: the strip between the narrowed client area and the right frame.
  RECT ButtonInWindow() const {
    RECT window;
    GetWindowRect(edit_, &window);
    RECT client;
    GetClientRect(edit_, &client);
    MapWindowPoints(edit_, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -window.left, -window.top);
    return RECT{client.right, client.top, client.right + kButtonWidth, client.bottom};
  }
  POINT WindowToScreen(POINT point) const {
    RECT window;
    GetWindowRect(edit_, &window);
    return POINT{window.left + point.x, window.top + point.y};
  }
  POINT ScreenToClientPoint(POINT point) const {
    ScreenToClient(edit_, &point);
    return point;
  }

 private:
  HWND parent_ = nullptr;
  HWND edit_ = nullptr;
};

// The button as painted: the corner pixels of its edge and the box its label covers.
struct Look {
  COLORREF topLeft;
  COLORREF bottomRight;
  RECT label;  ///< bounding box of the label's text-coloured pixels, in window coordinates
};

Look ReadLook(const Field& field) {
  const RECT button = field.ButtonInWindow();
  HDC dc = GetWindowDC(field.edit());
  Look look{GetPixel(dc, button.left, button.top),
            GetPixel(dc, button.right - 1, button.bottom - 1),
            RECT{button.right, button.bottom, button.left, button.top}};
  const COLORREF text = GetSysColor(COLOR_BTNTEXT);
  for (int y = button.top + 2; y < button.bottom - 2; ++y) {
    for (int x = button.left + 2; x < button.right - 2; ++x) {
      if (GetPixel(dc, x, y) != text) continue;
      look.label.left = std::min<LONG>(look.label.left, x);
      look.label.top = std::min<LONG>(look.label.top, y);
      look.label.right = std::max<LONG>(look.label.right, x + 1);
      look.label.bottom = std::max<LONG>(look.label.bottom, y + 1);
    }
  }
  ReleaseDC(field.edit(), dc);
  return look;
}

bool SameLook(const Look& a, const Look& b) {
  return a.topLeft == b.topLeft && a.bottomRight == b.bottomRight && EqualRect(&a.label, &b.label);
}

// Where a step of a scenario puts the mouse.
enum class Where { kButton, kButtonLeftEdge, kOff, kText, kFrame };

POINT PointInWindow(const Field& field, Where where) {
  const RECT button = field.ButtonInWindow();
  const int middle = (button.top + button.bottom) / 2;
  switch (where) {
    case Where::kButton:
      return POINT{(button.left + button.right) / 2, middle};
    case Where::kButtonLeftEdge:
      return POINT{button.left, middle};
    case Where::kOff:
      return POINT{(button.left + button.right) / 2, button.bottom + 25};
    case Where::kText:
      return POINT{button.left / 2, middle};
    case Where::kFrame:
      return POINT{0, middle};
  }
  return POINT{};
}

enum class Action { kPress, kMove, kRelease };

struct Step {
  Action action;
  Where where;
  bool pressed;     ///< drawn pushed in afterwards
  size_t commands;  ///< commands posted to the parent so far
};

struct Scenario {
  const char* name;
  std::vector<Step> steps;
};

const Scenario kScenarios[] = {
    {"click on the button",
     {{Action::kPress, Where::kButton, true, 0}, {Action::kRelease, Where::kButton, false, 1}}},
    {"click on the button's left edge, which belongs to it",
     {{Action::kPress, Where::kButtonLeftEdge, true, 0},
      {Action::kRelease, Where::kButtonLeftEdge, false, 1}}},
    {"drag off and back, release inside",
     {{Action::kPress, Where::kButton, true, 0},
      {Action::kMove, Where::kOff, false, 0},
      {Action::kMove, Where::kButton, true, 0},
      {Action::kRelease, Where::kButton, false, 1}}},
    {"drag off, release outside",
     {{Action::kPress, Where::kButton, true, 0},
      {Action::kMove, Where::kOff, false, 0},
      {Action::kRelease, Where::kOff, false, 0}}},
    {"press in the text area",
     {{Action::kPress, Where::kText, false, 0},
      {Action::kMove, Where::kButton, false, 0},
      {Action::kRelease, Where::kButton, false, 0}}},
    {"press on the frame",
     {{Action::kPress, Where::kFrame, false, 0}, {Action::kRelease, Where::kFrame, false, 0}}},
};

// Drives a step with real input and waits until the edit has seen it.
void RealInput(Field& field, const Step& step) {
  const POINT screen = field.WindowToScreen(PointInWindow(field, step.where));
  const BrowseButton& record = field.record();
  switch (step.action) {
    case Action::kMove:
      MoveMouse(screen);
      PumpUntil([&] { return (record.pressed != 0) == step.pressed; }, kPatience);
      break;
    case Action::kPress: {
      MoveMouse(screen);
      PressLeftButton(screen);
      // A press on the button takes the capture; elsewhere the edit (text) or nobody (frame) does.
      const bool onButton = step.where == Where::kButton || step.where == Where::kButtonLeftEdge;
      if (onButton) {
        PumpUntil([&] { return record.tracking != 0; }, kPatience);
      } else {
        PumpFor(150);
      }
      break;
    }
    case Action::kRelease: {
      const bool wasTracking = record.tracking != 0;
      ReleaseLeftButton(screen);
      if (wasTracking) {
        PumpUntil([&] { return record.tracking == 0; }, kPatience);
        PumpFor(20);
      } else {
        PumpFor(150);
      }
      break;
    }
  }
}

// Drives a step by posting what the system would deliver, skipping hit testing.
void PostedInput(Field& field, const Step& step) {
  const POINT screen = field.WindowToScreen(PointInWindow(field, step.where));
  const POINT client = field.ScreenToClientPoint(screen);
  const LPARAM clientPoint = MAKELPARAM(client.x, client.y);
  HWND edit = field.edit();
  // The system also reports where the real pointer is (a window appearing under it, a capture
  // taken), and while the field holds the capture that report reaches the field: keep the pointer
  // where the step is, wherever it can go.
  const RECT desktop = {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                        GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                        GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  if (PtInRect(&desktop, screen)) SetCursorPos(screen.x, screen.y);
  switch (step.action) {
    case Action::kPress:
      if (step.where == Where::kText) {
        PostMessageA(edit, WM_LBUTTONDOWN, MK_LBUTTON, clientPoint);
      } else {
        PostMessageA(edit, WM_NCLBUTTONDOWN, HTBORDER, MAKELPARAM(screen.x, screen.y));
      }
      break;
    case Action::kMove:
      PostMessageA(edit, WM_MOUSEMOVE, MK_LBUTTON, clientPoint);
      break;
    case Action::kRelease:
      PostMessageA(edit, WM_LBUTTONUP, 0, clientPoint);
      break;
  }
  PumpFor(30);
}

void RunScenario(const Scenario& scenario, void (*drive)(Field&, const Step&),
                 DWORD extraStyle = 0) {
  Field field(true, extraStyle);
  const Look raised = ReadLook(field);
  REQUIRE(raised.label.right > raised.label.left);  // the label is there to be seen
  Look pressed = raised;
  OffsetRect(&pressed.label, 1, 1);
  for (size_t i = 0; i < scenario.steps.size(); ++i) {
    const Step& step = scenario.steps[i];
    CAPTURE(i);
    drive(field, step);
    CHECK((field.record().pressed != 0) == step.pressed);
    const Look now = ReadLook(field);
    if (step.pressed) {
      CHECK(now.topLeft != raised.topLeft);
      CHECK(now.bottomRight != raised.bottomRight);
      CHECK(EqualRect(&now.label, &pressed.label));
    } else {
      CHECK(SameLook(now, raised));
    }
    REQUIRE(g_commands.size() == step.commands);
  }
  for (const Command& command : g_commands) {
    CHECK(command.wParam == MAKEWPARAM(kPostedId, 0));
    CHECK(command.lParam == 0);
    CHECK_FALSE(command.sent);
    CHECK_FALSE(command.stillTracking);
  }
  CHECK(field.record().tracking == 0);
  CHECK(GetCapture() == nullptr);
}

// Busy blocks of the process heap of a given size.
int BusyHeapBlocks(size_t size) {
  HANDLE heap = GetProcessHeap();
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  int count = 0;
  while (HeapWalk(heap, &entry)) {
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.cbData == size) ++count;
  }
  HeapUnlock(heap);
  return count;
}

}  // namespace

TEST_CASE("the text area is the button's width narrower; the frame is measured, not assumed") {
  Field field(false);
  RECT before;
  GetClientRect(field.edit(), &before);
  RECT window;
  GetWindowRect(field.edit(), &window);
  POINT origin{0, 0};
  ClientToScreen(field.edit(), &origin);
  const int frameLeft = origin.x - window.left;
  const int frameTop = origin.y - window.top;
  const int frameRight = (window.right - window.left) - before.right - frameLeft;
  const int frameBottom = (window.bottom - window.top) - before.bottom - frameTop;

  field.Attach();
  UpdateWindow(field.edit());
  PumpFor(30);
  RECT after;
  GetClientRect(field.edit(), &after);
  CHECK(after.right == before.right - kButtonWidth);
  CHECK(after.bottom == before.bottom);
  const BrowseButton& record = field.record();
  CHECK(record.frameLeft == frameLeft);
  CHECK(record.frameRight == frameRight);
  CHECK(record.frameTop == frameTop);
  CHECK(record.frameBottom == frameBottom);
  CHECK(std::string(record.label) == "Browse...");

  SUBCASE("both forms of WM_NCCALCSIZE narrow the first rectangle and return 0") {
    RECT plain = window;
    CHECK(SendMessageA(field.edit(), WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&plain)) == 0);
    CHECK(plain.left == window.left + frameLeft);
    CHECK(plain.right == window.right - frameRight - kButtonWidth);
    NCCALCSIZE_PARAMS params{};
    params.rgrc[0] = params.rgrc[1] = params.rgrc[2] = window;
    WINDOWPOS position{};
    params.lppos = &position;
    CHECK(SendMessageA(field.edit(), WM_NCCALCSIZE, TRUE, reinterpret_cast<LPARAM>(&params)) == 0);
    CHECK(params.rgrc[0].right == window.right - frameRight - kButtonWidth);
    CHECK(params.rgrc[0].top == window.top + frameTop);
  }

  SUBCASE("typed text scrolls before it reaches the button and never runs under it") {
    const Look raised = ReadLook(field);
    SetWindowTextA(field.edit(), std::string(200, 'W').c_str());
    SendMessageA(field.edit(), EM_SETSEL, 200, 200);
    UpdateWindow(field.edit());
    PumpFor(30);
    const LRESULT last = SendMessageA(field.edit(), EM_POSFROMCHAR, 199, 0);
    CHECK(static_cast<short>(LOWORD(last)) < after.right);
    CHECK(SameLook(ReadLook(field), raised));
  }
}

TEST_CASE("WM_NCHITTEST answers HTBORDER over the button only") {
  Field field;
  const RECT button = field.ButtonInWindow();
  const int middle = (button.top + button.bottom) / 2;
  const struct {
    const char* where;
    POINT point;  // relative to the window's top-left corner
    LRESULT expected;
  } cases[] = {
      {"centre", {(button.left + button.right) / 2, middle}, HTBORDER},
      {"left edge", {button.left, middle}, HTBORDER},
      {"top-left corner", {button.left, button.top}, HTBORDER},
      {"bottom-right corner", {button.right - 1, button.bottom - 1}, HTBORDER},
      {"just left of it", {button.left - 1, middle}, HTCLIENT},
      {"text area", {button.left / 2, middle}, HTCLIENT},
  };
  for (const auto& testCase : cases) {
    CAPTURE(testCase.where);
    const POINT screen = field.WindowToScreen(testCase.point);
    CHECK(SendMessageA(field.edit(), WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)) ==
          testCase.expected);
  }
}

TEST_CASE("GetBrowseButtonRect keeps the button inside the right frame") {
  const struct {
    int left, right, top, bottom;
    RECT window;
    RECT expected;
  } cases[] = {
      {1, 1, 1, 1, {0, 0, 100, 20}, {44, 1, 99, 19}},
      {2, 2, 2, 2, {0, 0, 100, 20}, {43, 2, 98, 18}},
      {1, 3, 2, 1, {0, 0, 100, 20}, {44, 2, 99, 19}},  // moved right by the frames' difference
      {3, 1, 1, 1, {0, 0, 100, 20}, {44, 1, 99, 19}},
      {1, 1, 1, 1, {-300, -40, -200, -20}, {-256, -39, -201, -21}},  // a monitor left of and above
  };
  for (const auto& testCase : cases) {
    BrowseButton record{};
    record.buttonWidth = kButtonWidth;
    record.frameLeft = testCase.left;
    record.frameRight = testCase.right;
    record.frameTop = testCase.top;
    record.frameBottom = testCase.bottom;
    RECT rect = testCase.window;
    GetBrowseButtonRect(&rect, &record);
    CAPTURE(rect.left);
    CAPTURE(rect.top);
    CAPTURE(rect.right);
    CAPTURE(rect.bottom);
    CHECK(EqualRect(&rect, &testCase.expected));
  }
}

TEST_CASE("press, drag and release with the real mouse") {
  for (const Scenario& scenario : kScenarios) {
    CAPTURE(scenario.name);
    RunScenario(scenario, RealInput);
  }
}

TEST_CASE("press, drag and release by posted messages") {
  for (const Scenario& scenario : kScenarios) {
    CAPTURE(scenario.name);
    RunScenario(scenario, PostedInput);
  }
}

TEST_CASE("a read-only or disabled field operates its button like any other") {
  // A disabled window gets no real mouse input, so it is driven by posted messages alone.
  RunScenario(kScenarios[0], RealInput, ES_READONLY);
  RunScenario(kScenarios[2], PostedInput, ES_READONLY);
  RunScenario(kScenarios[2], PostedInput, WS_DISABLED);
}

TEST_CASE("on a monitor left of and above the primary one the button is found and pressed") {
  // Off the only screen here nothing is painted, so the state is read from the record.
  Field field(true, 0, POINT{-600, -200});
  const POINT screen = field.WindowToScreen(PointInWindow(field, Where::kButton));
  REQUIRE(screen.x < 0);
  REQUIRE(screen.y < 0);
  CHECK(SendMessageA(field.edit(), WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)) == HTBORDER);
  for (const Step& step : kScenarios[2].steps) {
    PostedInput(field, step);
    CHECK((field.record().pressed != 0) == step.pressed);
    CHECK(g_commands.size() == step.commands);
  }
}

TEST_CASE("a press that loses the capture is still followed until the next button-up") {
  Field field;
  const BrowseButton& record = field.record();
  PostedInput(field, {Action::kPress, Where::kButton, true, 0});
  REQUIRE(GetCapture() == field.edit());
  ReleaseCapture();  // as when another window is activated
  CHECK(record.tracking == 1);
  PostedInput(field, {Action::kMove, Where::kOff, false, 0});
  CHECK(record.pressed == 0);
  PostedInput(field, {Action::kMove, Where::kButton, true, 0});
  CHECK(record.pressed == 1);
  PostedInput(field, {Action::kRelease, Where::kButton, false, 1});
  CHECK(record.tracking == 0);
  CHECK(g_commands.size() == 1);
}

TEST_CASE("a double click on the button acts as a second press and release") {
  Field field;
  const POINT screen = field.WindowToScreen(PointInWindow(field, Where::kButton));
  const BrowseButton& record = field.record();
  ClickAt(screen);
  PumpUntil([] { return g_commands.size() == 1; }, kPatience);
  // The second press of a double click, as the system delivers it to a window with CS_DBLCLKS.
  SendMessageA(field.edit(), WM_NCLBUTTONDBLCLK, HTBORDER, MAKELPARAM(screen.x, screen.y));
  CHECK(record.pressed == 1);
  CHECK(record.tracking == 1);
  CHECK(GetCapture() == field.edit());
  ReleaseLeftButton(screen);
  PumpUntil([] { return g_commands.size() == 2; }, kPatience);
  PumpFor(20);
  REQUIRE(g_commands.size() == 2);
  CHECK(g_commands[1].wParam == MAKEWPARAM(kPostedId, 0));
  CHECK(record.pressed == 0);
  CHECK(record.tracking == 0);
}

TEST_CASE("the button has no keyboard access") {
  Field field;
  SetFocus(field.edit());
  for (WPARAM key : {VK_RETURN, VK_SPACE}) {
    SendMessageA(field.edit(), WM_KEYDOWN, key, 0);
    SendMessageA(field.edit(), WM_KEYUP, key, 0);
  }
  PumpFor(20);
  CHECK(g_commands.empty());
  CHECK(field.record().pressed == 0);
}

TEST_CASE("destroying the field frees its record exactly once") {
  constexpr int kCycles = 100;
  const int atStart = BusyHeapBlocks(sizeof(BrowseButton));
  int attachedOneMore = 0;
  for (int i = 0; i < kCycles; ++i) {
    HWND edit = CreateWindowExA(0, "Edit", "", WS_POPUP | WS_BORDER, 0, 0, 200, 20, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    const int before = BusyHeapBlocks(sizeof(BrowseButton));
    AttachBrowseButton(edit, kCommandId);
    if (BusyHeapBlocks(sizeof(BrowseButton)) == before + 1) ++attachedOneMore;
    DestroyWindow(edit);
  }
  CHECK(attachedOneMore == kCycles);
  CHECK(BusyHeapBlocks(sizeof(BrowseButton)) == atStart);
  CHECK(HeapValidate(GetProcessHeap(), 0, nullptr));
}
