#include "native_arguments.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
  if (*text < '0' || *text > '9') return false;
  char* end;
  errno = 0;
  const unsigned long long count = strtoull(text, &end, 10);
  if (*end != '\0' || errno == ERANGE) return false;
  *value = count;
  return true;
}

// Reads the value of `-offset` or `-length` into the range, and a length's word into
// `lengthWord`; false, having said why, where it is not a count of bytes.
bool ReadRangeValue(bool offset, const char* value, SwapRange* range, const char** lengthWord) {
  if (!ParseByteCount(value, offset ? &range->offset : &range->length)) {
    SayWrong(InvalidRangeMessage(offset, value));
    return false;
  }
  if (!offset) {
    range->toEnd = false;
    *lengthWord = value;
  }
  return true;
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
  const LayoutSource source = value[0] == '@' ? LayoutSource::kFile : LayoutSource::kArgument;
  std::string text = source == LayoutSource::kFile ? "" : value;
  int error;
  if (source == LayoutSource::kFile && !ReadLayoutFile(value + 1, &text, &error)) {
    Fail(UnreadableLayoutFileMessage(value + 1, error, kLongestLayoutFile));
    return false;
  }
  LayoutOrError compiled = CompileLayout(text, source);
  if (compiled.error.Failed()) {
    SayWrong(InvalidLayoutMessage(value, source, compiled.error.what));
    return false;
  }
  *layout = std::make_shared<const CompiledLayout>(std::move(compiled.layout));
  return true;
}

// What `path` names on `side`, resolved once by the file layer: "-" the standard stream.
OwnedPath ResolveOperand(const char* path, FileSide side) {
  return IsStandardStream(path) ? StandardStream(side) : SystemFileLayer().Resolve(path, nullptr);
}

// The files and the output agree: files never with -in; several only into a folder.
bool AreFilesTaken(NativeArguments* arguments) {
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
  // The paths are null until given, so that an option given with an empty value is not taken for a
  // missing one.
  int32_t dataSizeBits = 0;
  const char* lengthWord = nullptr;
  // The pairs Orvane.exe takes are read by its parser, from each word on; where it stops at a word
  // that is none of them, that word is a native option, a file, or a mistake.
  for (int k = 1; k < argc;) {
    ParseResult result =
        ParseCommandLine(argc - k + 1, argv + k - 1, &arguments->inputPath, &arguments->outputPath,
                         &dataSizeBits, IsNativeDataSize, OptionForms::kNative);
    result.index += k - 1;
    if (result.stop == ParseStop::kHelp) return NativeRequest::kHelp;
    if (result.stop == ParseStop::kVersion) return NativeRequest::kVersion;
    if (result.ok()) break;
    const char* word = argv[result.index];
    const bool unknown = result.stop == ParseStop::kUnknownOption;
    if (unknown && strcmp(word, "--") == 0) {
      // "-" after the options is the file of that name, never standard input.
      for (int file = result.index + 1; file < argc; ++file)
        arguments->files.push_back(strcmp(argv[file], "-") == 0 ? "./-" : argv[file]);
      break;
    }
    // The native program's own options: where the parser stopped at one, its value is read here.
    OptionValue pair;
    const auto spells = [&](const char* option) {
      return unknown &&
             FindOptionValue(argc, argv, result.index, option, OptionForms::kNative, &pair);
    };
    const bool layout = spells("-layout");
    const bool offset = !layout && spells("-offset");
    if (layout || offset || spells("-length")) {
      if (!pair.value) {
        SayWrong(StoppedMessage({ParseStop::kMissingValue, result.index}, argv));
        return NativeRequest::kMalformed;
      }
      if (layout ? !ReadLayout(pair.value, &arguments->layout)
                 : !ReadRangeValue(offset, pair.value, &arguments->range, &lengthWord))
        return NativeRequest::kMalformed;
      k = pair.next;
      continue;
    }
    if (!unknown || word[0] == '-' || word[0] == '\0') {
      SayWrong(strcmp(word, "-") == 0 && unknown ? StandardInputAsFileMessage()
                                                 : StoppedMessage(result, argv));
      return NativeRequest::kMalformed;
    }
    arguments->files.push_back(word);
    k = result.index + 1;
  }
  if (dataSizeBits != 0 && arguments->layout) {
    SayWrong(DataSizeWithLayoutMessage());
    return NativeRequest::kMalformed;
  }
  // With files, -in and -out are never missing.
  const bool blocksGiven = dataSizeBits != 0 || arguments->layout;
  const bool inputGiven = arguments->inputPath || !arguments->files.empty();
  const bool outputGiven = arguments->outputPath || !arguments->files.empty();
  if (!inputGiven || !outputGiven || !blocksGiven) {
    SayWrong(MissingOptionsMessage(inputGiven, outputGiven, blocksGiven));
    return NativeRequest::kMalformed;
  }
  arguments->dataSizeBits = static_cast<unsigned>(dataSizeBits);
  if (dataSizeBits != 0)
    arguments->layout = std::make_shared<const CompiledLayout>(BlockLayout(dataSizeBits / 8));
  // A length that no input can hold as whole blocks or as the layout (0, a part of a block, what
  // the layout does not cover exactly) is refused before any input is read: a stream would only
  // learn it at its end.
  if (!arguments->range.toEnd &&
      !IsCoveredLength(arguments->range.length, arguments->layout->View())) {
    SayWrong(InvalidLengthMessage(lengthWord, arguments->dataSizeBits / 8));
    return NativeRequest::kMalformed;
  }
  if (!arguments->files.empty() && !AreFilesTaken(arguments)) return NativeRequest::kMalformed;
  // One input: it and its output resolved here (the output already, where one file took it).
  if (arguments->files.empty()) {
    arguments->input = ResolveOperand(arguments->inputPath, FileSide::kInput);
    if (!arguments->output)
      arguments->output = ResolveOperand(arguments->outputPath, FileSide::kOutput);
  }
  return NativeRequest::kSwap;
}

bool IsStandardStream(const char* path) { return strcmp(path, "-") == 0; }
