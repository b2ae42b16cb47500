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

/// Prints the help, written for Linux users, to standard output.
void PrintNativeHelp();

/// Reads `argv[1..argc)`, where all three options must be given. Otherwise says on standard error
/// what is wrong, naming the argument, and returns false.
bool ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments);
