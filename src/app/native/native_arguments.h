// The native program's arguments: the pairs it shares with Orvane.exe, read into values, with its
// own help, and what it says of arguments it cannot take, the way of GNU tools (one line naming
// what is wrong and one saying where help is), where Orvane.exe shows its usage box whatever the
// mistake.
#pragma once

/// What the command line asks for: a swap of `inputPath` into `outputPath` in blocks of
/// `dataSizeBits` bits, any data size the swap takes. "-" names a standard stream.
struct NativeArguments {
  const char* inputPath = nullptr;
  const char* outputPath = nullptr;
  unsigned dataSizeBits = 0;
};

/// The help, written for Linux users, and the version with its copyright and licence, as printed to
/// standard output.
extern const char kNativeHelp[];
extern const char kNativeVersion[];

/// What the arguments ask for.
enum class NativeRequest { kSwap, kHelp, kVersion, kMalformed };

/// Reads `argv[1..argc)`, where all three options must be given for a swap. Options may also be
/// written with two dashes. `-h`, `--help` or `--version` where an option may stand asks for that
/// instead, the first of them winning. Malformed arguments are said on standard error, naming the
/// argument.
NativeRequest ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments);
