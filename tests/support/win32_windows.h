// Seeing and answering another process's windows as a user would: start the program, find the
// message box it shows, read its caption, text, icon and buttons, press a button, read the exit
// code.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

/// A started process; the handles are closed when it goes.
class StartedProcess {
 public:
  /// Starts `program` with `arguments`, each quoted as the runtime's argument splitting expects.
  StartedProcess(const std::string& program, const std::vector<std::string>& arguments);
  /// Starts `commandLine` exactly as given, in `workingFolder` when one is given.
  explicit StartedProcess(const std::string& commandLine, const std::string& workingFolder = "");
  ~StartedProcess();
  StartedProcess(const StartedProcess&) = delete;
  StartedProcess& operator=(const StartedProcess&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  DWORD id() const { return info_.dwProcessId; }
  /// The exit code, or STILL_ACTIVE when it does not end within `milliseconds` (it is then killed).
  DWORD WaitForExit(DWORD milliseconds);
  bool HasExited() const;

 private:
  PROCESS_INFORMATION info_{};
};

/// The first visible top-level window of `processId` with `className`, polled until `milliseconds`
/// pass or the process ends; null when none appeared.
HWND WaitForProcessWindow(const StartedProcess& process, const char* className, DWORD milliseconds);

/// The first visible top-level window of class `className` whose owner is `owner`, polled.
HWND WaitForOwnedWindow(HWND owner, const char* className, DWORD milliseconds);

/// All visible top-level windows of a process.
std::vector<HWND> ProcessWindows(DWORD processId);

std::string WindowText(HWND window);
std::string ClassName(HWND window);

/// A message box as the user sees it.
struct MessageBoxView {
  std::string caption;
  std::string text;
  std::vector<std::pair<int, std::string>> buttons;  ///< identifier and label of each button
  HWND iconControl = nullptr;
};
MessageBoxView ReadMessageBox(HWND box);

/// True when the icon control shows the system icon `iconName` (IDI_INFORMATION, IDI_WARNING ...),
/// compared pixel for pixel on the screen, since icon handles differ between processes.
bool ShowsSystemIcon(HWND iconControl, LPCSTR iconName);

/// Answers a message box with OK, as a click on it would.
void PressOk(HWND box);

/// The program under test, Orvane.exe, as a Windows path: the test's environment names it in
/// ORVANE_EXE, as a path on the host.
std::string OrvanePath();

/// The Windows form of a path on the host (the Z: drive maps the host's root).
std::string HostPathToWindows(const std::string& path);
/// A command-line argument quoted for the runtime's splitting.
std::string QuoteArgument(const std::string& argument);

// Real mouse input, as the user's hand gives it: absolute positions in screen pixels.

/// Moves the pointer to `point` on the screen.
void MoveMouse(POINT point);
/// Presses or releases the left button with the pointer at `point`.
void PressLeftButton(POINT point);
void ReleaseLeftButton(POINT point);
/// Moves to `point`, presses and releases the left button there.
void ClickAt(POINT point);

/// Dispatches this thread's messages until `done()` holds or `milliseconds` pass; returns `done()`.
template <typename Condition>
bool PumpUntil(Condition done, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    if (done()) return true;
    if (GetTickCount() - start >= milliseconds) return done();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}
/// Dispatches this thread's messages for `milliseconds`.
void PumpFor(DWORD milliseconds);

/// The centre of a window's rectangle on the screen.
POINT WindowCentre(HWND window);
