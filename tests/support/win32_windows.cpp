#include "win32_windows.h"

#include <doctest.h>

#include <cstdlib>

namespace {

std::string JoinCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::string commandLine = QuoteArgument(program);
  for (const std::string& argument : arguments) commandLine += " " + QuoteArgument(argument);
  return commandLine;
}

struct WindowSearch {
  DWORD processId;
  const char* className;
  HWND owner;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  if (!IsWindowVisible(window)) return TRUE;
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (search->processId != 0 && processId != search->processId) return TRUE;
  if (search->className && ClassName(window) != search->className) return TRUE;
  if (search->owner && GetWindow(window, GW_OWNER) != search->owner) return TRUE;
  search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> FindWindows(DWORD processId, const char* className, HWND owner) {
  WindowSearch search{processId, className, owner, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM parameter) {
  reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(child);
  return TRUE;
}

std::vector<HWND> Children(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

}  // namespace

StartedProcess::StartedProcess(const std::string& program,
                               const std::vector<std::string>& arguments)
    : StartedProcess(JoinCommandLine(program, arguments)) {}

StartedProcess::StartedProcess(const std::string& commandLine, const std::string& workingFolder) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  std::string writable = commandLine;
  if (!CreateProcessA(nullptr, &writable[0], nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info_)) {
    info_ = {};
  }
}

StartedProcess::~StartedProcess() {
  if (!started()) return;
  if (!HasExited()) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
}

DWORD StartedProcess::WaitForExit(DWORD milliseconds) {
  if (WaitForSingleObject(info_.hProcess, milliseconds) != WAIT_OBJECT_0) {
    TerminateProcess(info_.hProcess, 99);
    WaitForSingleObject(info_.hProcess, 5000);
    return STILL_ACTIVE;
  }
  DWORD code = 0;
  GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

bool StartedProcess::HasExited() const {
  return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0;
}

std::vector<HWND> ProcessWindows(DWORD processId) {
  return FindWindows(processId, nullptr, nullptr);
}

HWND WaitForProcessWindow(const StartedProcess& process, const char* className,
                          DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    const std::vector<HWND> found = FindWindows(process.id(), className, nullptr);
    if (!found.empty()) return found.front();
    if (process.HasExited()) return nullptr;
    Sleep(20);
  } while (GetTickCount() - start < milliseconds);
  return nullptr;
}

HWND WaitForOwnedWindow(HWND owner, const char* className, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    const std::vector<HWND> found = FindWindows(0, className, owner);
    if (!found.empty()) return found.front();
    Sleep(20);
  } while (GetTickCount() - start < milliseconds);
  return nullptr;
}

std::string WindowText(HWND window) {
  // WM_GETTEXT reaches across processes, where GetWindowText of a control would not.
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
  text.resize(static_cast<size_t>(copied));
  return text;
}

std::string ClassName(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

MessageBoxView ReadMessageBox(HWND box) {
  MessageBoxView view;
  view.caption = WindowText(box);
  for (HWND child : Children(box)) {
    const std::string className = ClassName(child);
    const int id = GetDlgCtrlID(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (className == "Button") {
      view.buttons.emplace_back(id, WindowText(child));
    } else if (className == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
      view.iconControl = child;
    } else if (className == "Static" && id == 0xFFFF) {
      view.text = WindowText(child);
    }
  }
  return view;
}

namespace {

// Counts the pixels of `shown` (screen coordinates) that differ from `expected` in `memory`.
int DifferingPixels(HDC memory, const RECT& shown, int width, int height) {
  HDC screen = GetDC(nullptr);
  int differing = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (GetPixel(memory, x, y) != GetPixel(screen, shown.left + x, shown.top + y)) ++differing;
    }
  }
  ReleaseDC(nullptr, screen);
  return differing;
}

}  // namespace

bool ShowsSystemIcon(HWND iconControl, LPCSTR iconName) {
  if (!iconControl) return false;
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  ReleaseDC(nullptr, screen);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
  DrawIconEx(memory, 0, 0, LoadIconA(nullptr, iconName), width, height, 0, nullptr, DI_NORMAL);

  // A box that has just appeared may not have painted yet, least of all on a loaded machine: have
  // it paint now, and look again for a moment before calling the icon different.
  bool same = false;
  const DWORD start = GetTickCount();
  do {
    RedrawWindow(GetParent(iconControl), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT shown;
    GetWindowRect(iconControl, &shown);
    same = DifferingPixels(memory, shown, width, height) == 0;
    if (!same) Sleep(50);
  } while (!same && GetTickCount() - start < 1000);

  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  return same;
}

void PressOk(HWND box) { PostMessageA(box, WM_COMMAND, IDOK, 0); }

std::string OrvanePath() {
  const char* path = getenv("ORVANE_EXE");
  REQUIRE_MESSAGE(path != nullptr, "ORVANE_EXE names the program under test");
  return HostPathToWindows(path);
}

std::string HostPathToWindows(const std::string& path) {
  std::string windows = path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return path.empty() || path[0] != '/' ? windows : "Z:" + windows;
}

std::string QuoteArgument(const std::string& argument) {
  // The runtime's rules: backslashes are literal unless they precede a quote.
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

namespace {

void SendMouse(DWORD flags, POINT point) {
  // Absolute coordinates run from 0 to 65535 over the primary screen.
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = (point.x * 65536 + width / 2) / width;
  input.mi.dy = (point.y * 65536 + height / 2) / height;
  input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
}

}  // namespace

void MoveMouse(POINT point) { SendMouse(MOUSEEVENTF_MOVE, point); }
void PressLeftButton(POINT point) { SendMouse(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_MOVE, point); }
void ReleaseLeftButton(POINT point) { SendMouse(MOUSEEVENTF_LEFTUP | MOUSEEVENTF_MOVE, point); }

void ClickAt(POINT point) {
  MoveMouse(point);
  PressLeftButton(point);
  ReleaseLeftButton(point);
}

void PumpFor(DWORD milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

POINT WindowCentre(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}
