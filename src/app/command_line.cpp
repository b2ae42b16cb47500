#include "command_line.h"

#include <climits>
#include <cstdlib>

namespace {

// Compared byte for byte, case included, as GNU tools compare their requests. Written out rather
// than strcmp, which the Windows program, sharing this parser, has no other use for.
bool IsExactly(const char* argument, const char* request) {
  while (*argument != '\0' && *argument == *request) ++argument, ++request;
  return *argument == *request;
}

}  // namespace

bool IsOptionForm(const char* argument, const char* dashForm, OptionForms forms) {
  if (IsSameOption(argument, dashForm)) return true;
  if (argument[0] == '/' && IsSameOption(argument + 1, dashForm + 1)) return true;
  return forms == OptionForms::kNative && argument[0] == '-' &&
         IsSameOption(argument + 1, dashForm);
}

bool IsOfferedDataSize(int32_t bits) { return bits == 16 || bits == 32 || bits == 64; }

int32_t ParseDecimal(const char* text) {
  // strtol saturates at its own range; narrowing that to 32 bits keeps the saturation on every
  // platform, where a plain atoi may wrap.
  const long value = strtol(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

ParseResult ParseCommandLine(int argc, const char* const* argv, const char** inputPath,
                             const char** outputPath, int32_t* dataSizeBits,
                             bool (*isAllowedDataSize)(int32_t bits), OptionForms forms) {
  for (int k = 1; k < argc; k += 2) {
    const char* option = argv[k];
    const bool hasValue = k + 1 < argc;
    if (forms == OptionForms::kNative) {
      if (IsExactly(option, "-h") || IsExactly(option, "--help")) return {ParseStop::kHelp, k};
      if (IsExactly(option, "--version")) return {ParseStop::kVersion, k};
    }
    if (IsOptionForm(option, "-datasize", forms)) {
      if (!hasValue) return {ParseStop::kMissingValue, k};
      *dataSizeBits = ParseDecimal(argv[k + 1]);
      if (!isAllowedDataSize(*dataSizeBits)) return {ParseStop::kDataSize, k + 1};
    } else if (IsOptionForm(option, "-in", forms)) {
      if (!hasValue) return {ParseStop::kMissingValue, k};
      *inputPath = argv[k + 1];
    } else if (IsOptionForm(option, "-out", forms)) {
      if (!hasValue) return {ParseStop::kMissingValue, k};
      *outputPath = argv[k + 1];
    } else {
      return {ParseStop::kUnknownOption, k};
    }
  }
  return {ParseStop::kNone, argc};
}
