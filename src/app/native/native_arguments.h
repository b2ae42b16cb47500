// The native program's arguments: the pairs it shares with Orvane.exe, read into values, with its
// own help, and what it says of arguments it cannot take, the way of GNU tools (one line naming
// what is wrong and one saying where help is), where Orvane.exe shows its usage box whatever the
// mistake.
#pragma once

#include <memory>
#include <vector>

#include "layout.h"
#include "swap.h"

/// What the command line asks for: a swap of `inputPath` into `outputPath` by `layout`, "-"
/// naming a standard stream; or, where `files` are named, a swap of each, in place or, where
/// `intoFolder`, into the folder `outputPath` under its own base name. Only `range` of each input
/// is swapped. The layout is that of blocks of `dataSizeBits` bits, any data size the swap takes,
/// or, where `dataSizeBits` is 0, the one -layout gave. `input` and `output` are the input and the
/// output resolved by the file layer, once: both for one input, the output alone where files are
/// named with one.
struct NativeArguments {
  const char* inputPath = nullptr;
  const char* outputPath = nullptr;
  unsigned dataSizeBits = 0;
  std::shared_ptr<const CompiledLayout> layout;
  std::vector<const char*> files;
  bool intoFolder = false;
  SwapRange range;
  OwnedPath input;
  OwnedPath output;
};

/// Whether `path` is "-", which names a standard stream.
bool IsStandardStream(const char* path);

/// What the arguments ask for.
enum class NativeRequest { kSwap, kHelp, kVersion, kMalformed };

/// Reads `argv[1..argc)`: option/value pairs and files. `-in`, `-out` and `-datasize` or `-layout`
/// must be given for a swap of one input, `-datasize` or `-layout` alone for files. Options may
/// also be written with two dashes, and then their value also after `=` in the same word
/// (`--in=a.bin`). A word where an option may stand that is none and does not start with `-` is a
/// file, as is every word after `--`. `-h`, `--help` or `--version` where an option may stand asks
/// for that instead, the first of them winning. Malformed arguments are said on standard error,
/// naming the argument, as is a layout file that cannot be read.
NativeRequest ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments);
