// Orvane.exe's command line: option/value pairs into the process-wide values, one swap, an exit
// code; the usage message box for a malformed command line, and silence on a failed swap.
#pragma once

#include <cstdint>

/// The values the command line gives; an option never given leaves its start value.
extern const char* g_inputPath;
extern const char* g_outputPath;
extern int32_t g_dataSizeBits;

/// The usage message: its caption, and its text of eight lines joined by bare line feeds.
extern const char kUsageCaption[];
extern const char kUsageText[];

/// Shows the usage message and returns once the user has dismissed it.
void ShowUsage();

/// Parses into the process-wide values and swaps once. A malformed command line shows the usage
/// message and touches no file.
int RunCommandLine(int argc, const char* const* argv);
