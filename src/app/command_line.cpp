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

// True when `argument` is `request` with a value attached: `request=` and anything after it.
bool HasValueAttached(const char* argument, const char* request) {
  while (*request != '\0' && *argument == *request) ++argument, ++request;
  return *request == '\0' && *argument == '=';
}

// True when `argument` spells the option whose one-dash form is `dashForm` (`-in`): that form, or
// `/in`, or with native forms `--in`, in any case.
bool IsOptionForm(const char* argument, const char* dashForm, OptionForms forms) {
  if (IsSameOption(argument, dashForm)) return true;
  if (argument[0] == '/' && IsSameOption(argument + 1, dashForm + 1)) return true;
  return forms == OptionForms::kNative && argument[0] == '-' &&
         IsSameOption(argument + 1, dashForm);
}

}  // namespace

const char* AttachedValue(const char* argument, OptionForms forms) {
  if (forms != OptionForms::kNative || argument[0] != '-' || argument[1] != '-') return nullptr;
  for (const char* at = argument + 2; *at != '\0'; ++at)
    if (*at == '=') return at + 1;
  return nullptr;
}

bool FindOptionValue(int argc, const char* const* argv, int k, const char* dashForm,
                     OptionForms forms, OptionValue* found) {
  const char* argument = argv[k];
  const char* attached = AttachedValue(argument, forms);
  if (!attached) {
    if (!IsOptionForm(argument, dashForm, forms)) return false;
    *found = {k + 1 < argc ? argv[k + 1] : nullptr, k + 2};
    return true;
  }
  // The option's name alone, for the comparison; a name too long for the copy is no option's.
  // Longer than any option's name.
  constexpr size_t kOptionNameRoom = 32;
  char name[kOptionNameRoom];
  const size_t length = static_cast<size_t>(attached - 1 - argument);
  if (length >= sizeof name) return false;
  for (size_t i = 0; i < length; ++i) name[i] = argument[i];
  name[length] = '\0';
  if (!IsOptionForm(name, dashForm, forms)) return false;
  // An empty attached value is a missing one, lest `--in=` name a file of no name.
  *found = {*attached != '\0' ? attached : nullptr, k + 1};
  return true;
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
  for (int k = 1; k < argc;) {
    const char* option = argv[k];
    if (forms == OptionForms::kNative) {
      if (IsExactly(option, "-h") || IsExactly(option, "--help")) return {ParseStop::kHelp, k};
      if (IsExactly(option, "--version")) return {ParseStop::kVersion, k};
      if (HasValueAttached(option, "--help") || HasValueAttached(option, "--version"))
        return {ParseStop::kValueGiven, k};
    }
    OptionValue pair;
    if (FindOptionValue(argc, argv, k, "-datasize", forms, &pair)) {
      if (!pair.value) return {ParseStop::kMissingValue, k};
      *dataSizeBits = ParseDecimal(pair.value);
      if (!isAllowedDataSize(*dataSizeBits))
        return {ParseStop::kDataSize, pair.next - 1, pair.value};
    } else if (FindOptionValue(argc, argv, k, "-in", forms, &pair)) {
      if (!pair.value) return {ParseStop::kMissingValue, k};
      *inputPath = pair.value;
    } else if (FindOptionValue(argc, argv, k, "-out", forms, &pair)) {
      if (!pair.value) return {ParseStop::kMissingValue, k};
      *outputPath = pair.value;
    } else {
      return {ParseStop::kUnknownOption, k};
    }
    k = pair.next;
  }
  return {ParseStop::kNone, argc};
}
