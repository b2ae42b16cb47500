// The native program's command line: the one it shares with Orvane.exe, and what Linux users expect
// of a command besides (help and version on standard output, `-` and named pipes streamed, one line
// on standard error saying why a swap failed). Orvane.exe's command line stays silent on failure.
#pragma once

/// Runs the native program on its whole argument vector and returns the process exit code.
int RunNativeCommandLine(int argc, const char* const* argv);
