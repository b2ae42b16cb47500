#include "browse_button.h"

namespace {

constexpr INT32 kButtonWidth = 55;
constexpr char kLabel[] = "Browse...";

BrowseButton* RecordOf(HWND window) {
  return reinterpret_cast<BrowseButton*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// Whether a mouse message's point lies on the button: `lParam` in screen coordinates, or where
// `client`, in client coordinates. The button's rectangle is taken in screen coordinates too: it
// moves with the window's, whatever the point is compared to.
bool PointOnButton(HWND window, const BrowseButton* record, LPARAM lParam, bool client) {
  POINT point = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  if (client) ClientToScreen(window, &point);
  RECT button;
  GetWindowRect(window, &button);
  GetBrowseButtonRect(&button, record);
  return PtInRect(&button, point) != FALSE;
}

// Paints the button where it is, its rectangle relative to the window's top-left corner.
void Redraw(HWND window, const BrowseButton* record) {
  RECT button;
  GetWindowRect(window, &button);
  OffsetRect(&button, -button.left, -button.top);
  GetBrowseButtonRect(&button, record);
  DrawBrowseButton(record, &button, window);
}

LRESULT OnNcCalcSize(HWND window, BrowseButton* record, WPARAM wParam, LPARAM lParam) {
  RECT* client = reinterpret_cast<RECT*>(lParam);
  const RECT outer = *client;
  CallWindowProcA(record->previousProc, window, WM_NCCALCSIZE, wParam, lParam);
  record->frameLeft = client->left - outer.left;
  record->frameRight = outer.right - client->right;
  record->frameTop = client->top - outer.top;
  record->frameBottom = outer.bottom - client->bottom;
  client->right -= record->buttonWidth;
  return 0;
}

LRESULT OnNcHitTest(HWND window, BrowseButton* record, WPARAM wParam, LPARAM lParam) {
  if (PointOnButton(window, record, lParam, false)) return HTBORDER;
  return CallWindowProcA(record->previousProc, window, WM_NCHITTEST, wParam, lParam);
}

LRESULT OnNcPaint(HWND window, BrowseButton* record, WPARAM wParam, LPARAM lParam) {
  CallWindowProcA(record->previousProc, window, WM_NCPAINT, wParam, lParam);
  Redraw(window, record);
  return 0;
}

void OnNcButtonDown(HWND window, BrowseButton* record, LPARAM lParam) {
  if (!PointOnButton(window, record, lParam, false)) return;
  SetCapture(window);
  record->tracking = 1;
  record->pressed = 1;
  Redraw(window, record);
}

void OnMouseMove(HWND window, BrowseButton* record, LPARAM lParam) {
  if (!record->tracking) return;
  const INT32 pressed = PointOnButton(window, record, lParam, true) ? 1 : 0;
  if (pressed == record->pressed) return;
  record->pressed = pressed;
  Redraw(window, record);
}

void OnLButtonUp(HWND window, BrowseButton* record, LPARAM lParam) {
  if (!record->tracking) return;
  if (PointOnButton(window, record, lParam, true)) {
    PostMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(LOWORD(record->commandId), 0), 0);
  }
  ReleaseCapture();
  record->tracking = 0;
  record->pressed = 0;
  Redraw(window, record);
}

}  // namespace

bool AttachBrowseButton(HWND edit, int commandId) {
  auto* record = static_cast<BrowseButton*>(HeapAlloc(GetProcessHeap(), 0, sizeof(BrowseButton)));
  if (!record) return false;
  record->commandId = commandId;
  record->pressed = 0;
  record->tracking = 0;
  record->buttonWidth = kButtonWidth;
  record->font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  lstrcpynA(record->label, kLabel, sizeof record->label);
  record->previousProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BrowseEditProc)));
  SetWindowLongPtrA(edit, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
  SetWindowPos(edit, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return true;
}

void GetBrowseButtonRect(RECT* rect, const BrowseButton* record) {
  rect->right -= record->frameRight;
  rect->top += record->frameTop;
  rect->bottom -= record->frameBottom;
  rect->left = rect->right - record->buttonWidth;
  if (record->frameRight > record->frameLeft) {
    OffsetRect(rect, record->frameRight - record->frameLeft, 0);
  }
}

void DrawBrowseButton(const BrowseButton* record, RECT* rect, HWND window) {
  HDC dc = GetWindowDC(window);
  SelectObject(dc, record->font);
  const bool pressed = record->pressed == 1;
  DrawEdge(dc, rect, EDGE_RAISED, BF_RECT | BF_ADJUST | (pressed ? BF_FLAT : 0));
  FillRect(dc, rect, GetSysColorBrush(COLOR_BTNFACE));
  // The label shifts with the press.
  if (pressed) OffsetRect(rect, 1, 1);
  SetBkMode(dc, TRANSPARENT);
  DrawTextA(dc, record->label, -1, rect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  ReleaseDC(window, dc);
}

LRESULT CALLBACK BrowseEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  BrowseButton* record = RecordOf(window);
  const WNDPROC previousProc = record->previousProc;
  switch (message) {
    case WM_NCDESTROY:
      // Passed on below through the procedure fetched before the record is freed.
      HeapFree(GetProcessHeap(), 0, record);
      break;
    case WM_NCCALCSIZE:
      return OnNcCalcSize(window, record, wParam, lParam);
    case WM_NCHITTEST:
      return OnNcHitTest(window, record, wParam, lParam);
    case WM_NCPAINT:
      return OnNcPaint(window, record, wParam, lParam);
    case WM_NCLBUTTONDOWN:
    case WM_NCLBUTTONDBLCLK:
      OnNcButtonDown(window, record, lParam);
      break;
    case WM_MOUSEMOVE:
      OnMouseMove(window, record, lParam);
      break;
    case WM_LBUTTONUP:
      OnLButtonUp(window, record, lParam);
      break;
  }
  return CallWindowProcA(previousProc, window, message, wParam, lParam);
}
