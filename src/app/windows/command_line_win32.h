// Orvane.exe's command line: option/value pairs into the process-wide values, one swap, an exit
// code; the usage message box for a malformed command line, and silence on a failed swap.
#pragma once

/// Parses into the process-wide values and swaps once. A malformed command line shows the usage
/// message and touches no file.
int RunCommandLine(int argc, const char* const* argv);
