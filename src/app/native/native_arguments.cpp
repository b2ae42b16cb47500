#include "native_arguments.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "command_line.h"
#include "messages.h"
#include "orvane_version.h"
#include "swap.h"

namespace {

static_assert(kSmallestDataSizeBits == 16 && kLargestDataSizeBits == 1024,
              "the help and the messages name the range of data sizes");

}  // namespace

const char kNativeHelp[] =
    "Usage: orvane -in INPUT -out OUTPUT -datasize BITS\n"
    "Reverse the bytes in each block of BITS bits of INPUT, writing the result to\n"
    "OUTPUT (a file of the same size), or back to INPUT when OUTPUT names it.\n"
    "\n"
    "  -in INPUT        the file to swap\n"
    "  -out OUTPUT      the file to write, created or replaced\n"
    "  -datasize BITS   the block length in bits: a multiple of 8 from 16 to 1024\n"
    "  -                as INPUT, standard input; as OUTPUT, standard output\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Options come in pairs, in any order and any case, also with / (/in), read from\n"
    "left to right: a later value replaces an earlier one. One dash is the tool's own\n"
    "form, shared with its Windows program; two (--in) are taken as well.\n"
    "\n"
    "Examples:\n"
    "  orvane -in ~/data/big-endian.bin -out ~/data/little-endian.bin -datasize 32\n"
    "  orvane -in /srv/audio/take1.raw -out /srv/audio/take1.raw -datasize 24\n"
    "  curl -s https://example.com/x.bin | orvane -in - -out x.bin -datasize 64\n"
    "\n"
    "See orvane(1).\n";

const char kNativeVersion[] = "orvane " ORVANE_VERSION_TEXT
                              "\n"
                              "Copyright (C) 2026 Orvane Project\n"
                              "License MIT: <https://opensource.org/license/mit>\n"
                              "This is free software: you are free to change and redistribute it.\n"
                              "There is NO WARRANTY, to the extent permitted by law.\n";

namespace {

bool IsNativeDataSize(int32_t bits) {
  return bits > 0 && IsValidDataSize(static_cast<unsigned>(bits));
}

// What the parser stopped at, naming the argument as typed.
std::string WhyStopped(const ParseResult& result, const char* const* argv) {
  const char* argument = argv[result.index];
  switch (result.stop) {
    case ParseStop::kUnknownOption:
      return "unrecognized option " + Quoted(argument);
    case ParseStop::kMissingValue:
      return "option " + Quoted(argument) + " requires an argument";
    case ParseStop::kDataSize:
      return "invalid -datasize " + Quoted(argument) +
             ": it must be a multiple of 8 from 16 to 1024";
    case ParseStop::kNone:
    case ParseStop::kHelp:
    case ParseStop::kVersion:
      break;
  }
  return "";
}

// The options never given, as a list ("-in", "-in and -out", "-in, -out and -datasize"); empty
// when all were. A parsed data size is never 0, so 0 means none was given.
std::string MissingOptions(const char* input, const char* output, int32_t dataSizeBits) {
  const char* names[3];
  int count = 0;
  if (!input) names[count++] = "-in";
  if (!output) names[count++] = "-out";
  if (dataSizeBits == 0) names[count++] = "-datasize";
  std::string list;
  for (int i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " and " : ", ";
    list += names[i];
  }
  return list;
}

}  // namespace

NativeRequest ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments) {
  if (argc <= 1) {
    SayWrong("no arguments: -in, -out and -datasize are required");
    return NativeRequest::kMalformed;
  }
  // Null until given, so that an option given with an empty value is not taken for a missing one.
  const char* input = nullptr;
  const char* output = nullptr;
  int32_t dataSizeBits = 0;
  const ParseResult result = ParseCommandLine(argc, argv, &input, &output, &dataSizeBits,
                                              IsNativeDataSize, OptionForms::kNative);
  if (result.stop == ParseStop::kHelp) return NativeRequest::kHelp;
  if (result.stop == ParseStop::kVersion) return NativeRequest::kVersion;
  if (!result.ok()) {
    SayWrong(WhyStopped(result, argv));
    return NativeRequest::kMalformed;
  }
  const std::string missing = MissingOptions(input, output, dataSizeBits);
  if (!missing.empty()) {
    SayWrong("missing " + missing);
    return NativeRequest::kMalformed;
  }
  arguments->inputPath = input;
  arguments->outputPath = output;
  arguments->dataSizeBits = static_cast<unsigned>(dataSizeBits);
  return NativeRequest::kSwap;
}
