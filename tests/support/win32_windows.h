// Seeing and answering another process's windows as a user would: start the program, find the
// message box it shows, read its caption, text, icon and buttons, press a button, read the exit code.
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

/// The Windows form of a path on the host (the Z: drive maps the host's root).
std::string HostPathToWindows(const std::string& path);
/// A command-line argument quoted for the runtime's splitting.
std::string QuoteArgument(const std::string& argument);
