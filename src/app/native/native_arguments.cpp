#include "native_arguments.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "command_line.h"
#include "layout.h"
#include "messages.h"
#include "standard_streams.h"
#include "swap.h"

namespace {

bool IsNativeDataSize(int32_t bits) {
  return bits > 0 && IsValidDataSize(static_cast<unsigned>(bits));
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
    SayWrong(StoppedMessage({ParseStop::kMissingValue, k}, argv));
    return false;
  }
  if (!ParseByteCount(pair.value, offset ? &range->offset : &range->length)) {
    SayWrong(InvalidRangeMessage(offset, pair.value));
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
  SayWrong(InvalidLengthMessage(lengthWord, arguments.dataSizeBits / 8));
  return false;
}

// The longest layout file read: far more than any record takes.
constexpr size_t kLongestLayoutFile = 1 << 20;

// The text of the layout file `path`; false, with `*error` set to the errno or to 0 where the file
// is too long, where it cannot be read.
bool ReadLayoutFile(const char* path, std::string* text, int* error) {
  struct Closer {
    void operator()(FILE* file) const { fclose(file); }
  };
  const std::unique_ptr<FILE, Closer> file(fopen(path, "re"));
  if (!file) {
    *error = errno;
    return false;
  }
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, file.get())) > 0 &&
         text->size() <= kLongestLayoutFile)
    text->append(chunk, got);
  const bool failed = ferror(file.get()) != 0;
  *error = failed ? errno : 0;
  return !failed && text->size() <= kLongestLayoutFile;
}

// Reads and compiles the value of -layout into `*layout`: the text, or with `@` the file it names.
// False, having said why, where it is no layout or its file cannot be read.
bool ReadLayout(const char* value, std::shared_ptr<const CompiledLayout>* layout) {
  std::string text = value;
  LayoutSource source = LayoutSource::kArgument;
  if (value[0] == '@') {
    text.clear();
    int error;
    if (!ReadLayoutFile(value + 1, &text, &error)) {
      Fail(UnreadableLayoutFileMessage(value + 1, error, kLongestLayoutFile));
      return false;
    }
    source = LayoutSource::kFile;
  }
  LayoutOrError compiled = CompileLayout(text, source);
  if (compiled.error.Failed()) {
    SayWrong(InvalidLayoutMessage(value, source, compiled.error.what));
    return false;
  }
  *layout = std::make_shared<const CompiledLayout>(std::move(compiled.layout));
  return true;
}

// The files and the output agree: files never with -in; several only into a folder.
bool AreFilesTaken(NativeArguments* arguments) {
  if (arguments->files.empty()) return true;
  if (arguments->inputPath) {
    SayWrong(ExtraOperandMessage(arguments->files[0]));
    return false;
  }
  if (!arguments->outputPath) return true;
  arguments->output = ResolveOperand(arguments->outputPath, FileSide::kOutput);
  arguments->intoFolder =
      arguments->output && arguments->output->target.kind == PathTarget::Kind::kFolder;
  if (arguments->intoFolder) return true;
  if (arguments->files.size() == 1) {
    arguments->inputPath = arguments->files[0];
    arguments->files.clear();
    arguments->input = ResolveOperand(arguments->inputPath, FileSide::kInput);
    return true;
  }
  SayWrong(NotAFolderMessage(arguments->outputPath));
  return false;
}

}  // namespace

NativeRequest ReadNativeArguments(int argc, const char* const* argv, NativeArguments* arguments) {
  if (argc <= 1) {
    SayWrong(NoArgumentsMessage());
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
        SayWrong(StoppedMessage({ParseStop::kMissingValue, result.index}, argv));
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
                   ? StandardInputAsFileMessage()
                   : StoppedMessage(result, argv));
      return NativeRequest::kMalformed;
    }
    arguments->files.push_back(word);
    k = result.index + 1;
  }
  arguments->inputPath = input;
  arguments->outputPath = output;
  if (dataSizeBits != 0 && arguments->layout) {
    SayWrong(DataSizeWithLayoutMessage());
    return NativeRequest::kMalformed;
  }
  // With files, -in and -out are never missing.
  const bool blocksGiven = dataSizeBits != 0 || arguments->layout;
  const bool inputGiven = input || !arguments->files.empty();
  const bool outputGiven = output || !arguments->files.empty();
  if (!inputGiven || !outputGiven || !blocksGiven) {
    SayWrong(MissingOptionsMessage(inputGiven, outputGiven, blocksGiven));
    return NativeRequest::kMalformed;
  }
  arguments->dataSizeBits = static_cast<unsigned>(dataSizeBits);
  if (dataSizeBits != 0)
    arguments->layout = std::make_shared<const CompiledLayout>(BlockLayout(dataSizeBits / 8));
  if (!IsLengthTaken(arguments->range, lengthWord, *arguments)) return NativeRequest::kMalformed;
  if (arguments->files.empty()) {
    arguments->input = ResolveOperand(arguments->inputPath, FileSide::kInput);
    arguments->output = ResolveOperand(arguments->outputPath, FileSide::kOutput);
    return NativeRequest::kSwap;
  }
  return AreFilesTaken(arguments) ? NativeRequest::kSwap : NativeRequest::kMalformed;
}

bool IsStandardStream(const char* path) { return strcmp(path, "-") == 0; }

OwnedPath ResolveOperand(const char* path, FileSide side) {
  return IsStandardStream(path) ? StandardStream(side) : SystemFileLayer().Resolve(path, nullptr);
}
