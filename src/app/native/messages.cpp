#include "messages.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "orvane_version.h"

namespace {

// The length of the UTF-8 sequence that starts `text`, or 0 where it is not a valid one or encodes
// a control character.
size_t PrintableSequence(const unsigned char* text) {
  const unsigned char lead = text[0];
  const size_t length = lead >= 0xF0 && lead <= 0xF4  ? 4
                        : lead >= 0xE0                ? 3
                        : lead >= 0xC2 && lead < 0xE0 ? 2
                                                      : 0;
  if (length == 0 || lead > 0xF4) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[i] & 0xC0) != 0x80) return 0;
  }
  if (lead == 0xC2 && text[1] < 0xA0) return 0;   // U+0080 to U+009F: control characters
  if (lead == 0xE0 && text[1] < 0xA0) return 0;   // overlong
  if (lead == 0xF0 && text[1] < 0x90) return 0;   // overlong
  if (lead == 0xF4 && text[1] >= 0x90) return 0;  // beyond U+10FFFF
  if (lead == 0xED && text[1] >= 0xA0) return 0;  // surrogates
  // Marks that reorder or break the line a terminal shows: the bidirectional controls (U+061C,
  // U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) and the line and paragraph separators.
  if (lead == 0xD8 && text[1] == 0x9C) return 0;
  if (lead == 0xE2 && text[1] == 0x80 && (text[2] == 0x8E || text[2] == 0x8F)) return 0;
  if (lead == 0xE2 && text[1] == 0x80 && text[2] >= 0xA8 && text[2] <= 0xAE) return 0;
  if (lead == 0xE2 && text[1] == 0x81 && text[2] >= 0xA6 && text[2] <= 0xA9) return 0;
  return length;
}

// `text` (a path, an argument) in single quotes for a one-line message: control characters, a
// backslash and bytes that are not printable UTF-8 escaped, so that the message stays one line and
// no terminal obeys a name.
std::string Quoted(const char* text) {
  std::string quoted = "'";
  const auto* at = reinterpret_cast<const unsigned char*>(text);
  while (*at != '\0') {
    if (*at == '\\' || *at == '\'') {
      quoted += '\\';
      quoted += static_cast<char>(*at);
    } else if (*at == '\n') {
      quoted += "\\n";
    } else if (*at == '\t') {
      quoted += "\\t";
    } else if (*at >= 0x20 && *at < 0x7F) {
      quoted += static_cast<char>(*at);
    } else if (const size_t length = *at >= 0x80 ? PrintableSequence(at) : 0) {
      quoted.append(reinterpret_cast<const char*>(at), length);
      at += length;
      continue;
    } else {
      char escaped[5];
      snprintf(escaped, sizeof escaped, "\\x%02x", *at);
      quoted += escaped;
    }
    ++at;
  }
  return quoted + "'";
}

// A path as messages show it: quoted, or the standard stream that `-` stands for.
std::string NameOf(const char* path, const char* streamName) {
  return IsStandardStream(path) ? streamName : Quoted(path);
}
std::string InputName(const NativeArguments& arguments) {
  return NameOf(arguments.inputPath, "standard input");
}
std::string OutputName(const NativeArguments& arguments) {
  return NameOf(arguments.outputPath, "standard output");
}

// The system's reason, or the layer's own in words; `shortfall` for a transfer cut short.
std::string Reason(const FileError& error, const char* shortfall) {
  switch (error.reason) {
    case FileReason::kSystem:
      return strerror(error.code);
    case FileReason::kNoMemory:
      return strerror(ENOMEM);
    case FileReason::kShortTransfer:
      return shortfall;
    default:
      return "";
  }
}

std::string Bytes(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The input refused for its length: empty, or its range not within it; or what it or its range
// holds is not a whole number of blocks, or (where it holds some) not what the layout lays out.
std::string SizeMessage(const std::string& input, uint64_t size, const NativeArguments& arguments) {
  const SwapRange& range = arguments.range;
  const bool whole = range.offset == 0 && range.toEnd;
  if (whole && size == 0) return input + " is empty";
  std::string start = input + " is " + Bytes(size) + ": ";
  const std::string from = "from offset " + std::to_string(range.offset);
  if (range.offset > size)
    return start + "offset " + std::to_string(range.offset) + " is beyond its end";
  const uint64_t after = size - range.offset;
  if (!range.toEnd && range.length > after)
    return start + from + " it holds " + Bytes(after) + ", fewer than the length " +
           std::to_string(range.length);
  if (range.toEnd && after == 0) return start + from + " that leaves nothing to swap";
  const uint64_t length = range.toEnd ? after : range.length;
  if (arguments.dataSizeBits != 0 || length == 0) {
    const std::string blocks =
        " not a whole number of " + std::to_string(arguments.dataSizeBits / 8) + "-byte blocks";
    if (whole) return input + " is " + Bytes(size) + "," + blocks;
    if (range.toEnd) return start + from + " that leaves " + Bytes(after) + "," + blocks;
    return start + Bytes(length) + " " + from + (length == 1 ? " is" : " are") + blocks;
  }
  if (!whole) start += "the range has " + Bytes(length) + " " + from + "; ";
  const LayoutSpan span = arguments.layout->Span();
  const std::string fixed = std::to_string(span.fixedBytes);
  if (span.fillGroupBytes == 0)
    return start + "the layout takes " + Bytes(span.fixedBytes) + ", not " + std::to_string(length);
  if (length < span.fixedBytes)
    return start + "the layout's fixed groups take " + fixed + ", more than there are";
  const std::string group = "repeated group of " + Bytes(span.fillGroupBytes);
  if (span.fixedBytes == 0)
    return start + "the layout's " + group + " does not divide " + std::to_string(length);
  return start + "the layout's fixed groups take " + fixed + ", and its " + group +
         " does not divide the " + std::to_string(length - span.fixedBytes) + " left";
}

std::string SameFileMessage(const NativeArguments& arguments, StreamType inputType) {
  const std::string input = InputName(arguments);
  if (IsStandardStream(arguments.outputPath)) {
    return (IsStandardStream(arguments.inputPath) ? "standard output is the same file as " + input
                                                  : "standard output is " + input + " itself") +
           ", which it would read back without end";
  }
  if (inputType == StreamType::kPipe)
    return input + " is a named pipe: it cannot be swapped in place";
  if (inputType != StreamType::kRegular)
    return input + " is not a regular file: it cannot be swapped in place";
  // Standard input redirected from the very file named as the output: creating the output would
  // truncate the input before it is read.
  return input + " is " + OutputName(arguments) +
         " itself: to swap it in place, name it as -in and -out";
}

// The option a word spells, as typed: the word, or natively the part before `=` where the word
// holds its value.
std::string OptionName(const char* word) {
  const char* attached = AttachedValue(word, OptionForms::kNative);
  return attached ? std::string(word, static_cast<size_t>(attached - 1 - word)) : word;
}

// What a refused data size says; a value that would be a size in bytes gets the size in bits too,
// as a user thinking in bytes may type 4 for 32.
std::string InvalidDataSizeMessage(const char* value) {
  const int32_t number = ParseDecimal(value);
  const unsigned bytes = number > 0 ? static_cast<unsigned>(number) : 0;
  if (bytes > 0 && bytes < kSmallestDataSizeBits && IsValidDataSize(bytes * 8))
    return "invalid -datasize " + Quoted(value) +
           ": it is in bits, a multiple of 8 from 16 to 1024 (" + std::to_string(bytes) +
           " bytes is -datasize " + std::to_string(bytes * 8) + ")";
  return "invalid -datasize " + Quoted(value) + ": it must be a multiple of 8 from 16 to 1024";
}

}  // namespace

static_assert(kSmallestDataSizeBits == 16 && kLargestDataSizeBits == 1024,
              "the help and the messages name the range of data sizes");

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

void SayWrong(const std::string& what) {
  fprintf(stderr, "orvane: %s\nTry 'orvane --help' for more information.\n", what.c_str());
}

int Fail(const std::string& message) {
  fprintf(stderr, "orvane: %s\n", message.c_str());
  return kExitFailure;
}

std::string UnwrittenMessage(NativeRequest request, bool closed, int error) {
  const char* what = request == NativeRequest::kHelp ? "the help" : "the version";
  if (closed) return std::string("cannot write ") + what + ": standard output is closed";
  return std::string("cannot write ") + what +
         " to standard output: " + (error != 0 ? strerror(error) : "nothing more was stored");
}

std::string SwappedAlreadyMessage(const char* file, const char* earlier) {
  return Quoted(file) + " not swapped again: it is " + Quoted(earlier) +
         ", swapped already in this command";
}

std::string SameOutputMessage(const char* file, const char* output, const char* first) {
  return Quoted(file) + " not swapped: " + Quoted(output) + " is the output of " + Quoted(first) +
         " already";
}

std::string OutputIsInputMessage(const char* file, const char* output, const char* other) {
  return Quoted(file) + " not swapped: " + Quoted(output) + " is " + Quoted(other) +
         ", also to be swapped, which its output would write over";
}

std::string TerminalOutputMessage() {
  return "swapped data not written to a terminal: redirect standard output, or name a file as -out";
}

std::string FailureMessage(const SwapOutcome& outcome, const NativeArguments& arguments,
                           StreamType inputType) {
  const FileError& error = outcome.error;
  const bool output = error.side == FileSide::kOutput;
  const std::string name = output ? OutputName(arguments) : InputName(arguments);
  const std::string reason = Reason(error, "");
  const std::string inPlace = "cannot swap " + name + " in place: ";
  const std::string cannotOpen = "cannot open " + name + (output ? " for writing: " : ": ");
  switch (error.reason) {
    case FileReason::kManyNames:
      return inPlace + "it has more than one name (hard links), which replacing it would split";
    case FileReason::kChanged:
      return name + " changed while it was being swapped, and is left as it is";
    case FileReason::kNotPutBack:
      return name + " changed while it was being swapped, and could not be put back (" +
             strerror(error.code) + "): its previous contents are kept beside it, as orvane-*.tmp";
    case FileReason::kNotFlushed:
      return name +
             " is swapped, but may not survive a power cut: its folder could not be flushed (" +
             strerror(error.code) + ")";
    case FileReason::kIsInput:
      return SameFileMessage(arguments, inputType);
    case FileReason::kClosed:
      return name + " is closed";
    case FileReason::kUnfollowedLink:
      return cannotOpen +
             "it leads through a link in a sticky folder that everyone may write, which the "
             "system follows only for the link's owner or the folder's owner";
    case FileReason::kAppendOnlyFolder:
      return inPlace + "its folder is append-only, where no file may be replaced";
    case FileReason::kMounted:
      return inPlace +
             "it is mounted on another name too (a bind mount), which replacing it would split";
    case FileReason::kOthersInSharedFolder:
      return "cannot open " + name +
             " for writing: it is another user's file in a sticky folder that others may write, "
             "which the system opens for writing only for its owner or the folder's owner";
    case FileReason::kLengthNeeded:
      return InputName(arguments) +
             " is a stream, whose length comes only with its end: the layout's groups after its "
             "'*' group cannot be placed in it (give -length, or end the layout with that group)";
    case FileReason::kHeld:
      return inPlace + "another process has it open for writing or locked; it is left as it is";
    case FileReason::kHeldAsStandardStream:
      return inPlace + "this command's own standard " + (error.code == 0 ? "input" : "output") +
             " has it open for writing";
    case FileReason::kNotReplaceable:
      return inPlace + "it is not a regular file that can be replaced";
    default:
      break;
  }
  switch (error.step) {
    case FileStep::kOpen:
      return cannotOpen + reason;
    case FileStep::kSize:
      return SizeMessage(InputName(arguments), outcome.length, arguments);
    case FileStep::kRead:
      return "cannot read " + name + ": " + Reason(error, "it ended before its full size");
    case FileStep::kWrite:
      return "cannot write " + name + ": " + Reason(error, "nothing more was stored");
    case FileStep::kAllocate:
      return "cannot swap " + InputName(arguments) + ": " + reason;
    case FileStep::kCreateStaged:
      return "cannot create the swapped copy beside " + name + ": " + reason;
    case FileStep::kCopyMetadata:
      return "cannot give the swapped copy of " + name +
             " its owner, permissions and attributes: " + reason;
    case FileStep::kReplace:
      return "cannot put the swapped copy in the place of " + name + ": " + reason;
    case FileStep::kArguments:
    case FileStep::kNone:
      break;
  }
  return "cannot swap " + InputName(arguments);
}

std::string StoppedMessage(const ParseResult& result, const char* const* argv) {
  const char* argument = argv[result.index];
  switch (result.stop) {
    case ParseStop::kUnknownOption:
      return "unrecognized option " + Quoted(argument);
    case ParseStop::kMissingValue:
      return "option " + Quoted(OptionName(argument).c_str()) + " requires an argument";
    case ParseStop::kValueGiven:
      return "option " + Quoted(OptionName(argument).c_str()) + " doesn't allow an argument";
    case ParseStop::kDataSize:
      return InvalidDataSizeMessage(result.value);
    case ParseStop::kNone:
    case ParseStop::kHelp:
    case ParseStop::kVersion:
      break;
  }
  return "";
}

std::string NoArgumentsMessage() {
  return "no arguments: -in, -out, and -datasize or -layout are required";
}

std::string MissingOptionsMessage(bool input, bool output, bool blocks) {
  const char* names[3];
  int count = 0;
  if (!input) names[count++] = "-in";
  if (!output) names[count++] = "-out";
  if (!blocks) names[count++] = "-datasize or -layout";
  std::string list = "missing ";
  for (int i = 0; i < count; ++i) {
    // A comma before the last "and", lest "-out and -datasize or -layout" read as two choices.
    if (i > 0) list += i + 1 < count ? ", " : blocks ? " and " : ", and ";
    list += names[i];
  }
  return list;
}

std::string DataSizeWithLayoutMessage() {
  return "-datasize and -layout cannot be given together: -datasize BITS is the layout of one "
         "field of BITS/8 bytes, as '4r:*' for 32 bits";
}

std::string InvalidRangeMessage(bool offset, const char* value) {
  return std::string("invalid ") + (offset ? "-offset " : "-length ") + Quoted(value) +
         ": it must be a decimal number of bytes";
}

std::string InvalidLengthMessage(const char* value, unsigned blockBytes) {
  return "invalid -length " + Quoted(value) +
         (blockBytes != 0 ? ": it must be a non-zero whole number of " +
                                std::to_string(blockBytes) + "-byte blocks"
                          : ": the layout does not cover that many bytes exactly");
}

std::string UnreadableLayoutFileMessage(const char* path, int error, size_t longest) {
  return "cannot read the layout file " + Quoted(path) + ": " +
         (error != 0 ? strerror(error)
                     : "it is longer than " + std::to_string(longest) + " bytes") +
         " (a layout that starts with '@' names a file; Python's '@', native alignment, is not "
         "taken)";
}

std::string InvalidLayoutMessage(const char* value, LayoutSource source, const std::string& why) {
  return "invalid layout " +
         (source == LayoutSource::kFile ? "in " + Quoted(value + 1) : Quoted(value)) + ": " + why;
}

std::string StandardInputAsFileMessage() {
  return "'-' cannot be one of the files: name standard input as -in -";
}

std::string ExtraOperandMessage(const char* file) {
  return "extra operand " + Quoted(file) + ": the input is already named by -in";
}

std::string NotAFolderMessage(const char* output) {
  return "-out " + Quoted(output) + " is not a folder, as it must be for several files";
}
