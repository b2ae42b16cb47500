// The option/value pairs both command lines read (Orvane.exe's and the native orvane's), and
// the exit codes they return.
#pragma once

#include <cstdint>

/// The process exit codes.
enum ExitCode : int {
  kExitSuccess = 0,  ///< the swap succeeded, or the dialog ended
  kExitFailure = 1,  ///< the swap failed, or the arguments were malformed
};

/// Why the parser stopped before the end of the arguments.
enum class ParseStop {
  kNone,           ///< every pair was read
  kUnknownOption,  ///< an argument where an option belongs is none of the three
  kMissingValue,   ///< an option is the last argument, with no value after it
  kDataSize,       ///< a data size that the caller does not allow
  kHelp,           ///< native forms: `-h` or `--help` where an option belongs
  kVersion,        ///< native forms: `--version` where an option belongs
  kValueGiven,     ///< native forms: `--help=...` or `--version=...`, which take no value
};

/// How options may be spelled: Orvane.exe's `-in` and `/in` only, or the native program's, which
/// also takes `--in` (the form Unix users type first), with its value in the next word or, as GNU
/// tools take it, in the same one after `=` (`--in=a.bin`), and stops at `-h`, `--help` and
/// `--version` wherever an option may stand, the first of them winning as in GNU tools.
enum class OptionForms { kWindows, kNative };

/// Where and why the parser stopped: `index` is that of the argument at fault in `argv` (the
/// unknown option, the option without its value, the word that holds the refused data size), or
/// `argc` when none was; `value` is the refused data size as typed.
struct ParseResult {
  ParseStop stop;
  int index;
  const char* value = nullptr;
  bool ok() const { return stop == ParseStop::kNone; }
};

/// An option that takes a value, found where an option stands: the value (null where there is
/// none: the option is the last word, or natively `--opt=` is empty), and the index of the word
/// after the option and its value.
struct OptionValue {
  const char* value;
  int next;
};

/// The data sizes that Orvane.exe and its dialog offer: 16, 32 and 64.
bool IsOfferedDataSize(int32_t bits);

/// Reads `argv[1..argc)` as option/value pairs into the three values given. Stops at the first bad
/// pair (an unknown option, a missing value, a data size that `isAllowedDataSize` refuses), or with
/// native forms at a request for help or the version; values stored before it remain stored, and so
/// does the refused data size.
ParseResult ParseCommandLine(int argc, const char* const* argv, const char** inputPath,
                             const char** outputPath, int32_t* dataSizeBits,
                             bool (*isAllowedDataSize)(int32_t bits) = IsOfferedDataSize,
                             OptionForms forms = OptionForms::kWindows);

/// The `atoi` reading of a number: leading white space, an optional sign, the leading decimal
/// digits; no digits gives 0, and a number beyond the signed 32-bit range gives that range's limit
/// (whatever the runtime library's own `atoi` does on overflow).
int32_t ParseDecimal(const char* text);

/// With native forms, the value that a word of two dashes holds after its first `=` (`a.bin` in
/// `--in=a.bin`, possibly empty); null for any other word, and for every word with Windows forms.
/// One dash and `/` keep a word whole: `-in=a.bin` is an option of that name.
const char* AttachedValue(const char* argument, OptionForms forms);

/// True when `argv[k]` spells the option whose one-dash form is `dashForm`, in any of `forms`'
/// spellings, its value in the next word or attached; `*found` then says where the value is. Every
/// option that takes a value is read through this, so each gets every spelling.
bool FindOptionValue(int argc, const char* const* argv, int k, const char* dashForm,
                     OptionForms forms, OptionValue* found);

/// True when `argument` is `option`, compared whole and without regard to case: the platform's
/// own comparison, provided per platform.
bool IsSameOption(const char* argument, const char* option);
