#include "native_arguments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "layout.h"
#include "messages.h"
#include "orvane_version.h"
#include "swap.h"

namespace {

static_assert(kSmallestDataSizeBits == 16 && kLargestDataSizeBits == 1024,
              "the help and the messages name the range of data sizes");

}  // namespace

const char kNativeHelp[] =
    "Usage: orvane -in INPUT -out OUTPUT -datasize BITS\n"
    "  or:  orvane -in INPUT -out OUTPUT -layout 'LAYOUT'\n"
    "  or:  orvane -datasize BITS|-layout 'LAYOUT' [-out FOLDER] FILE...\n"
    "Reverse the bytes in each block of BITS bits of INPUT, or in each field of\n"
    "LAYOUT, writing the result to OUTPUT (a file of the same size), or back to\n"
    "INPUT when OUTPUT names it; or of each FILE, in place, or into FOLDER under its\n"
    "own name.\n"
    "\n"
    "  -in INPUT        the file to swap\n"
    "  -out OUTPUT      the file to write, created or replaced, or the FOLDER\n"
    "  -datasize BITS   the block length in bits: a multiple of 8 from 16 to 1024\n"
    "  -layout LAYOUT   the fields in Python struct letters, never padded (below)\n"
    "  -offset N        keep the first N bytes as they are, swap from there\n"
    "  -length M        swap only M bytes from the offset, keep the rest\n"
    "  -                as INPUT, standard input; as OUTPUT, standard output\n"
    "  -h, --help       print this help and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Options come in pairs, in any order and any case, also with / (/in), read from\n"
    "left to right: a later value replaces an earlier one. One dash is the tool's own\n"
    "form, shared with its Windows program; two are taken as well, and with two the\n"
    "value may also follow = in the same word (--in=INPUT). Any other word is a FILE,\n"
    "and so is every word after --. N and M are decimal bytes; the swapped part must\n"
    "be a whole number of blocks. One FILE with -out OUTPUT is swapped into OUTPUT. A\n"
    "failed FILE is said, and the others are still swapped.\n"
    "\n"
    "LAYOUT, quoted as one word, is groups separated by blanks, each fields then\n"
    ":COUNT (repeated COUNT times) or :* (repeated over what is left; one group at\n"
    "most), laid from the start or the offset to cover the file or range exactly.\n"
    "A count before a letter repeats the field; before s, p and r it is a length:\n"
    "    x c b B ? Ns Np kept; h H e 2 bytes, i I l L f 4, q Q d 8, Nr N: reversed\n"
    "Fields follow each other with no padding, as in Python's standard sizes (< > !\n"
    "= at the start is taken and ignored), never its native alignment; n N P are\n"
    "refused. -layout @FILE reads LAYOUT from FILE, where # starts a comment.\n"
    "\n"
    "Examples:\n"
    "  orvane -in ~/data/big-endian.bin -out ~/data/little-endian.bin -datasize 32\n"
    "  orvane -in /srv/audio/take1.raw -out /srv/audio/take1.raw -datasize 24\n"
    "  curl -s https://example.com/x.bin | orvane -in - -out x.bin -datasize 64\n"
    "  orvane -datasize 16 -offset 44 -out ~/swapped ~/takes/*.wav\n"
    "  orvane -in ~/data/log.bin -out ~/data/log-le.bin -layout '4s7s10s10s 4si2f:*'\n"
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

// The option a word spells, as typed: the word, or natively the part before `=` where the word
// holds its value.
std::string OptionName(const char* word) {
  const char* attached = AttachedValue(word, OptionForms::kNative);
  return attached ? std::string(word, static_cast<size_t>(attached - 1 - word)) : word;
}

// What a refused data size says; a value that would be a size in bytes gets the size in bits too,
// as a user thinking in bytes may type 4 for 32.
std::string InvalidDataSize(const char* value) {
  const int32_t number = ParseDecimal(value);
  const unsigned bytes = number > 0 ? static_cast<unsigned>(number) : 0;
  if (bytes > 0 && bytes < kSmallestDataSizeBits && IsValidDataSize(bytes * 8))
    return "invalid -datasize " + Quoted(value) +
           ": it is in bits, a multiple of 8 from 16 to 1024 (" + std::to_string(bytes) +
           " bytes is -datasize " + std::to_string(bytes * 8) + ")";
  return "invalid -datasize " + Quoted(value) + ": it must be a multiple of 8 from 16 to 1024";
}

// What the parser stopped at, naming the argument as typed.
std::string WhyStopped(const ParseResult& result, const char* const* argv) {
  const char* argument = argv[result.index];
  switch (result.stop) {
    case ParseStop::kUnknownOption:
      return "unrecognized option " + Quoted(argument);
    case ParseStop::kMissingValue:
      return "option " + Quoted(OptionName(argument).c_str()) + " requires an argument";
    case ParseStop::kValueGiven:
      return "option " + Quoted(OptionName(argument).c_str()) + " doesn't allow an argument";
    case ParseStop::kDataSize:
      return InvalidDataSize(result.value);
    case ParseStop::kNone:
    case ParseStop::kHelp:
    case ParseStop::kVersion:
      break;
  }
  return "";
}

// The options never given, as a list ("-in", "-in and -out", "-in, -out, and -datasize or
// -layout"); empty when all were. A parsed data size is never 0, so 0 means none was given.
std::string MissingOptions(const char* input, const char* output, bool blocksGiven) {
  const char* names[3];
  int count = 0;
  if (!input) names[count++] = "-in";
  if (!output) names[count++] = "-out";
  if (!blocksGiven) names[count++] = "-datasize or -layout";
  std::string list;
  for (int i = 0; i < count; ++i) {
    // A comma before the last "and", lest "-out and -datasize or -layout" read as two choices.
    if (i > 0) list += i + 1 < count ? ", " : blocksGiven ? " and " : ", and ";
    list += names[i];
  }
  return list;
}

// A decimal count of bytes, digits only and within 64 bits, into `value`.
bool ParseByteCount(const char* text, uint64_t* value) {
  if (*text == '\0') return false;
  uint64_t count = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    const unsigned digit = static_cast<unsigned>(*text - '0');
    if (count > (UINT64_MAX - digit) / 10) return false;
    count = count * 10 + digit;
  }
  *value = count;
  return true;
}

// True when `argv[k]` spells `-offset` or `-length`; `*offset` says which, `*pair` where the
// value is.
bool FindRangeOption(int argc, const char* const* argv, int k, bool* offset, OptionValue* pair) {
  *offset = FindOptionValue(argc, argv, k, "-offset", OptionForms::kNative, pair);
  return *offset || FindOptionValue(argc, argv, k, "-length", OptionForms::kNative, pair);
}

// Reads the value of `-offset` or `-length`, as found at `argv[k]`, into the range, and a length's
// word into `lengthWord`; false, having said why, where it is missing or not a count of bytes.
bool ReadRangeValue(const char* const* argv, int k, bool offset, const OptionValue& pair,
                    SwapRange* range, const char** lengthWord) {
  if (!pair.value) {
    SayWrong(WhyStopped({ParseStop::kMissingValue, k}, argv));
    return false;
  }
  if (!ParseByteCount(pair.value, offset ? &range->offset : &range->length)) {
    SayWrong(std::string("invalid ") + (offset ? "-offset " : "-length ") + Quoted(pair.value) +
             ": it must be a decimal number of bytes");
    return false;
  }
  if (!offset) {
    range->toEnd = false;
    *lengthWord = pair.value;
  }
  return true;
}

// A length that no input can hold as whole blocks or as the layout (0, a part of a block, what the
// layout does not cover exactly) is refused before any input is read: a stream would only learn it
// at its end.
bool IsLengthTaken(const SwapRange& range, const char* lengthWord,
                   const NativeArguments& arguments) {
  if (range.toEnd || IsCoveredLength(range.length, arguments.layout->View())) return true;
  const unsigned blockBytes = arguments.dataSizeBits / 8;
  SayWrong("invalid -length " + Quoted(lengthWord) +
           (blockBytes != 0 ? ": it must be a non-zero whole number of " +
                                  std::to_string(blockBytes) + "-byte blocks"
                            : ": the layout does not cover that many bytes exactly"));
  return false;
}

// The longest layout file read: far more than any record takes.
constexpr size_t kLongestLayoutFile = 1 << 20;

// The text of the layout file `path`; false, with `*why` set, where it cannot be read.
bool ReadLayoutFile(const char* path, std::string* text, std::string* why) {
  const int file = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (file < 0) {
    *why = strerror(errno);
    return false;
  }
  char chunk[4096];
  ssize_t got;
  while ((got = read(file, chunk, sizeof chunk)) > 0 && text->size() <= kLongestLayoutFile)
    text->append(chunk, static_cast<size_t>(got));
  const int error = errno;
  close(file);
  if (got < 0) *why = strerror(error);
  if (text->size() > kLongestLayoutFile)
    *why = "it is longer than " + std::to_string(kLongestLayoutFile) + " bytes";
  return why->empty();
}

// Reads and compiles the value of -layout into `*layout`: the text, or with `@` the file it names.
// False, having said why, where it is no layout or its file cannot be read.
bool ReadLayout(const char* value, std::shared_ptr<const CompiledLayout>* layout) {
  std::string text = value;
  LayoutSource source = LayoutSource::kArgument;
  if (value[0] == '@') {
    text.clear();
    std::string why;
    if (!ReadLayoutFile(value + 1, &text, &why)) {
      Fail("cannot read the layout file " + Quoted(value + 1) + ": " + why +
           " (a layout that starts with '@' names a file; Python's '@', native alignment, is "
           "not taken)");
      return false;
    }
    source = LayoutSource::kFile;
  }
  LayoutOrError compiled = CompileLayout(text, source);
  if (compiled.error.Failed()) {
    SayWrong(source == LayoutSource::kFile
                 ? "invalid layout in " + Quoted(value + 1) + ": " + compiled.error.what
                 : "invalid layout " + Quoted(value) + ": " + compiled.error.what);
    return false;
  }
  *layout = std::make_shared<const CompiledLayout>(std::move(compiled.layout));
  return true;
}

// The files and the output agree: files never with -in; several only into a folder.
bool AreFilesTaken(NativeArguments* arguments) {
  if (arguments->files.empty()) return true;
  if (arguments->inputPath) {
    SayWrong("extra operand " + Quoted(arguments->files[0]) +
             ": the input is already named by -in");
    return false;
  }
  if (!arguments->outputPath) return true;
  arguments->output = SystemFileLayer().Resolve(arguments->outputPath, nullptr);
  arguments->intoFolder =
      arguments->output && arguments->output->target.kind == PathTarget::Kind::kFolder;
  if (arguments->intoFolder) return true;
  if (arguments->files.size() == 1) {
    arguments->inputPath = arguments->files[0];
    arguments->files.clear();
    return true;
  }
  SayWrong("-out " + Quoted(arguments->outputPath) +
           " is not a folder, as it must be for several files");
  return false;
}

}  // namespace

NativeRequest ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments) {
  if (argc <= 1) {
    SayWrong("no arguments: -in, -out, and -datasize or -layout are required");
    return NativeRequest::kMalformed;
  }
  // Null until given, so that an option given with an empty value is not taken for a missing one.
  const char* input = nullptr;
  const char* output = nullptr;
  int32_t dataSizeBits = 0;
  const char* lengthWord = nullptr;
  // The pairs Orvane.exe takes are read by its parser, from each word on; where it stops at a word
  // that is none of them, that word is a native option, a file, or a mistake.
  for (int k = 1; k < argc;) {
    ParseResult result = ParseCommandLine(argc - k + 1, argv + k - 1, &input, &output,
                                          &dataSizeBits, IsNativeDataSize, OptionForms::kNative);
    result.index += k - 1;
    if (result.stop == ParseStop::kHelp) return NativeRequest::kHelp;
    if (result.stop == ParseStop::kVersion) return NativeRequest::kVersion;
    if (result.ok()) break;
    const char* word = argv[result.index];
    if (result.stop == ParseStop::kUnknownOption && strcmp(word, "--") == 0) {
      // "-" after the options is the file of that name, never standard input.
      for (int file = result.index + 1; file < argc; ++file)
        arguments->files.push_back(strcmp(argv[file], "-") == 0 ? "./-" : argv[file]);
      break;
    }
    OptionValue pair;
    bool offset;
    if (result.stop == ParseStop::kUnknownOption &&
        FindOptionValue(argc, argv, result.index, "-layout", OptionForms::kNative, &pair)) {
      if (!pair.value) {
        SayWrong(WhyStopped({ParseStop::kMissingValue, result.index}, argv));
        return NativeRequest::kMalformed;
      }
      if (!ReadLayout(pair.value, &arguments->layout)) return NativeRequest::kMalformed;
      k = pair.next;
      continue;
    }
    if (result.stop == ParseStop::kUnknownOption &&
        FindRangeOption(argc, argv, result.index, &offset, &pair)) {
      if (!ReadRangeValue(argv, result.index, offset, pair, &arguments->range, &lengthWord))
        return NativeRequest::kMalformed;
      k = pair.next;
      continue;
    }
    if (result.stop != ParseStop::kUnknownOption || word[0] == '-' || word[0] == '\0') {
      SayWrong(strcmp(word, "-") == 0 && result.stop == ParseStop::kUnknownOption
                   ? "'-' cannot be one of the files: name standard input as -in -"
                   : WhyStopped(result, argv));
      return NativeRequest::kMalformed;
    }
    arguments->files.push_back(word);
    k = result.index + 1;
  }
  arguments->inputPath = input;
  arguments->outputPath = output;
  if (dataSizeBits != 0 && arguments->layout) {
    SayWrong(
        "-datasize and -layout cannot be given together: -datasize BITS is the layout of one "
        "field of BITS/8 bytes, as '4r:*' for 32 bits");
    return NativeRequest::kMalformed;
  }
  const bool blocksGiven = dataSizeBits != 0 || arguments->layout;
  const std::string missing = arguments->files.empty() ? MissingOptions(input, output, blocksGiven)
                                                       : MissingOptions("", "", blocksGiven);
  if (!missing.empty()) {
    SayWrong("missing " + missing);
    return NativeRequest::kMalformed;
  }
  arguments->dataSizeBits = static_cast<unsigned>(dataSizeBits);
  if (dataSizeBits != 0)
    arguments->layout = std::make_shared<const CompiledLayout>(BlockLayout(dataSizeBits / 8));
  if (!IsLengthTaken(arguments->range, lengthWord, *arguments)) return NativeRequest::kMalformed;
  return AreFilesTaken(arguments) ? NativeRequest::kSwap : NativeRequest::kMalformed;
}
