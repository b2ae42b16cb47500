// The native program's help, and what it says of arguments it cannot take: the way of GNU tools,
// one line naming what is wrong and one saying where help is, where Orvane.exe shows its usage box
// whatever the mistake.
#pragma once

#include <string>

/// Prints the help, written for Linux users, to standard output.
void PrintNativeHelp();

/// Reads `argv[1..argc)` into g_inputPath, g_outputPath and g_dataSizeBits, which must all be
/// given; the data size may be any that the swap takes. Otherwise says on standard error what is
/// wrong, naming the argument, and returns false, leaving the three values as they were.
bool ReadNativeArguments(int argc, const char* const* argv);

/// `text` (a path, an argument) in single quotes for a one-line message: control characters, a
/// backslash and bytes that are not printable UTF-8 escaped, so that the message stays one line and
/// no terminal obeys a name.
std::string Quoted(const char* text);
