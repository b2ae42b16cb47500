// A push button labelled "Browse..." drawn inside a single-line edit control's own frame, at its
// right end. It is not a window: the edit's procedure is replaced, the client area narrowed by the
// button's width, the button painted in the non-client area and followed with the mouse; a release
// over it posts WM_COMMAND to the edit's parent.
#pragma once

#include <windows.h>

/// The state of one edit's button, owned by the edit from AttachBrowseButton to WM_NCDESTROY.
struct BrowseButton {
  INT32 commandId;       ///< posted to the parent on a release inside; its low 16 bits are sent
  char label[100];       ///< NUL-terminated
  INT32 pressed;         ///< 1 while drawn pushed in
  INT32 tracking;        ///< 1 from a press on the button until the next left button-up (captured)
  HFONT font;            ///< selected for the label
  WNDPROC previousProc;  ///< the edit's own procedure, to which messages are passed on
  INT32 buttonWidth;     ///< pixels taken from the client area
  INT32 frameLeft;       ///< the edit's own frame, as measured in each WM_NCCALCSIZE
  INT32 frameRight;
  INT32 frameTop;
  INT32 frameBottom;
};

/// Installs the button in `edit`, on the edit's own thread, at most once per edit. Returns false,
/// leaving the edit unchanged, when the record cannot be allocated.
bool AttachBrowseButton(HWND edit, int commandId);

/// The edit's replacement window procedure.
LRESULT CALLBACK BrowseEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

/// Turns `rect`, the edit's window rectangle (in screen coordinates or moved to 0, 0), into the
/// button's rectangle in the same coordinates.
void GetBrowseButtonRect(RECT* rect, const BrowseButton* record);

/// Paints the button into `rect`, relative to the window's top-left corner; `rect` is changed.
void DrawBrowseButton(const BrowseButton* record, RECT* rect, HWND window);
