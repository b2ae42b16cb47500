#include "messages.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "command_line.h"

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

// A path as messages show it: quoted, or the standard stream that `-` stands for.
std::string NameOf(const char* path, const char* streamName) {
  return strcmp(path, "-") == 0 ? streamName : Quoted(path);
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

// The input refused for its length: empty, or not a whole number of blocks; with a range, what
// the range leaves of it.
std::string BlockSizeMessage(const std::string& input, uint64_t size, unsigned blockBytes,
                             const SwapRange& range) {
  const std::string blocks =
      ", not a whole number of " + std::to_string(blockBytes) + "-byte blocks";
  if (range.offset == 0 && range.toEnd)
    return input + (size == 0 ? " is empty" : " is " + Bytes(size) + blocks);
  const std::string start = input + " is " + Bytes(size) + ": ";
  const std::string from = "from offset " + std::to_string(range.offset);
  if (range.offset > size)
    return start + "offset " + std::to_string(range.offset) + " is beyond its end";
  const uint64_t after = size - range.offset;
  if (range.toEnd)
    return start + from +
           (after == 0 ? " that leaves nothing to swap" : " that leaves " + Bytes(after) + blocks);
  if (range.length > after)
    return start + from + " it holds " + Bytes(after) + ", fewer than the length " +
           std::to_string(range.length);
  return start + Bytes(range.length) + " " + from + (range.length == 1 ? " is" : " are") +
         blocks.substr(1);
}

// The part of an input of `size` bytes that a layout is laid on, where there is one: the range, not
// empty, within the input.
bool LaidOutLength(uint64_t size, const SwapRange& range, uint64_t* length) {
  if (range.offset > size) return false;
  const uint64_t after = size - range.offset;
  if (!range.toEnd && range.length > after) return false;
  *length = range.toEnd ? after : range.length;
  return *length != 0;
}

// The input refused for its length: a layout's bytes, where it lays out some, are not those of the
// input or its range; other refusals are those of a data size.
std::string SizeMessage(const std::string& input, uint64_t size, const NativeArguments& arguments) {
  const SwapRange& range = arguments.range;
  uint64_t length;
  if (arguments.dataSizeBits != 0 || !LaidOutLength(size, range, &length))
    return BlockSizeMessage(input, size, arguments.dataSizeBits / 8, range);
  std::string start = input + " is " + Bytes(size) + ": ";
  if (range.offset != 0 || !range.toEnd)
    start +=
        "the range has " + Bytes(length) + " from offset " + std::to_string(range.offset) + "; ";
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
  if (inputType == StreamType::kPipe)
    return input + " is a named pipe: it cannot be swapped in place";
  if (inputType != StreamType::kRegular)
    return input + " is not a regular file: it cannot be swapped in place";
  // Standard input redirected from the very file named as the output: creating the output would
  // truncate the input before it is read.
  return input + " is " + OutputName(arguments) +
         " itself: to swap it in place, name it as -in and -out";
}

}  // namespace

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

void SayWrong(const std::string& what) {
  fprintf(stderr, "orvane: %s\nTry 'orvane --help' for more information.\n", what.c_str());
}

int Fail(const std::string& message) {
  fprintf(stderr, "orvane: %s\n", message.c_str());
  return kExitFailure;
}

std::string UnwrittenMessage(const char* what, bool closed, int error) {
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

std::string RefusalMessage(Refusal refusal, const NativeArguments& arguments) {
  switch (refusal) {
    case Refusal::kTerminalOutput:
      return "swapped data not written to a terminal: redirect standard output, or name a file "
             "as -out";
    case Refusal::kStandardInputClosed:
      return "standard input is closed";
    case Refusal::kStandardOutputClosed:
      return "standard output is closed";
    case Refusal::kOutputIsInput:
      return "standard output is " + InputName(arguments) +
             " itself, which it would read back without end";
    case Refusal::kOutputIsStandardInput:
      return "standard output is the same file as standard input, which it would read back "
             "without end";
    case Refusal::kInPlaceHeldByStandardOutput:
      return "cannot swap " + OutputName(arguments) +
             " in place: this command's own standard output has it open for writing";
  }
  return "";
}

std::string FailureMessage(const SwapOutcome& outcome, const NativeArguments& arguments,
                           StreamType inputType) {
  const FileError& error = outcome.error;
  const bool output = error.side == FileSide::kOutput;
  const std::string name = output ? OutputName(arguments) : InputName(arguments);
  const std::string reason = Reason(error, "");
  switch (error.reason) {
    case FileReason::kManyNames:
      return "cannot swap " + name +
             " in place: it has more than one name (hard links), which replacing it would split";
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
    case FileReason::kUnfollowedLink:
      return "cannot open " + name +
             " for writing: it leads through a link in a sticky folder that everyone may write, "
             "which the system follows only for the link's owner or the folder's owner";
    case FileReason::kAppendOnlyFolder:
      return "cannot swap " + name +
             " in place: its folder is append-only, where no file may be replaced";
    case FileReason::kMounted:
      return "cannot swap " + name +
             " in place: it is mounted on another name too (a bind mount), which replacing it "
             "would split";
    case FileReason::kOthersInSharedFolder:
      return "cannot open " + name +
             " for writing: it is another user's file in a sticky folder that others may write, "
             "which the system opens for writing only for its owner or the folder's owner";
    case FileReason::kLengthNeeded:
      return InputName(arguments) +
             " is a stream, whose length comes only with its end: the layout's groups after its "
             "'*' group cannot be placed in it (give -length, or end the layout with that group)";
    case FileReason::kHeld:
      return "cannot swap " + name +
             " in place: another process has it open for writing or locked; it is left as it is";
    case FileReason::kNotReplaceable:
      return "cannot swap " + name + " in place: it is not a regular file that can be replaced";
    default:
      break;
  }
  switch (error.step) {
    case FileStep::kOpen:
      return "cannot open " + name + (output ? " for writing: " : ": ") + reason;
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
