// The native program's help, and what it says of arguments it cannot take: the way of GNU tools,
// one line naming what is wrong and one saying where help is, where Orvane.exe shows its usage box
// whatever the mistake.
#pragma once

#include <string>

/// The help, written for Linux users, and the version with its copyright and licence, as printed to
/// standard output.
extern const char kNativeHelp[];
extern const char kNativeVersion[];

/// What the arguments ask for.
enum class NativeRequest { kSwap, kHelp, kVersion, kMalformed };

/// Reads `argv[1..argc)` into g_inputPath, g_outputPath and g_dataSizeBits, which must all be
/// given for a swap; the data size may be any that the swap takes. Options may also be written with
/// two dashes. `-h`, `--help` or `--version` where an option may stand asks for that instead, the
/// first of them winning. Malformed arguments are said on standard error, naming the argument; they
/// and requests leave the three values as they were.
NativeRequest ReadNativeArguments(int argc, const char* const* argv);

/// `text` (a path, an argument) in single quotes for a one-line message: control characters, a
/// backslash and bytes that are not printable UTF-8 escaped, so that the message stays one line and
/// no terminal obeys a name.
std::string Quoted(const char* text);
