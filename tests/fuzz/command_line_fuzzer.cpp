// Whole argument vectors through the command-line parser. The input is split at NUL bytes into the
// arguments after the program's name. Whatever the vector, the parser either refuses it (the usage
// outcome, at the argument at fault) or yields exactly the last value given for each option, with a
// data size of 16, 32 or 64; which of the two is decided here by a reading of the rules written
// independently of the parser.
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "command_line.h"

namespace {

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool IsOption(const std::string& argument, const char* name) {
  return SameIgnoringCase(argument, (std::string("-") + name).c_str()) ||
         SameIgnoringCase(argument, (std::string("/") + name).c_str());
}

// atoi's reading: white space, a sign, the leading digits; saturating at the 32-bit limits.
int64_t AtoiReading(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  value = negative ? -value : value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return value;
}

struct Expected {
  bool accepted = true;
  int lastIn = -1;  // index in argv of the value that must win, -1 when never given
  int lastOut = -1;
  int32_t dataSizeBits = 0;
  int stopIndex = 0;  // index in argv of the argument at fault, when refused
};

Expected Refused(int stopIndex) {
  Expected expected;
  expected.accepted = false;
  expected.stopIndex = stopIndex;
  return expected;
}

Expected ReadRules(const std::vector<std::string>& arguments) {
  Expected expected;
  const int argc = static_cast<int>(arguments.size());
  for (int k = 1; k < argc; k += 2) {
    const std::string& option = arguments[k];
    const bool hasValue = k + 1 < argc;
    const bool known =
        IsOption(option, "datasize") || IsOption(option, "in") || IsOption(option, "out");
    if (!known || !hasValue) return Refused(k);
    if (IsOption(option, "datasize")) {
      const int64_t bits = AtoiReading(arguments[k + 1]);
      if (bits != 16 && bits != 32 && bits != 64) return Refused(k + 1);
      expected.dataSizeBits = static_cast<int32_t>(bits);
    } else if (IsOption(option, "in")) {
      expected.lastIn = k + 1;
    } else {
      expected.lastOut = k + 1;
    }
  }
  return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"orvane"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      arguments.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (size != 0) arguments.push_back(current);

  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(arguments.size());

  const char* inputPath = "";
  const char* outputPath = "";
  int32_t dataSizeBits = 0;
  const ParseResult result =
      ParseCommandLine(argc, argv.data(), &inputPath, &outputPath, &dataSizeBits);
  const bool accepted = result.ok();

  const Expected expected = ReadRules(arguments);
  if (accepted != expected.accepted) abort();
  if (!accepted) {
    if (result.index != expected.stopIndex) abort();
    return 0;
  }
  // The very strings given last, not copies: the parser keeps pointers into the vector.
  if (expected.lastIn >= 0 ? inputPath != argv[expected.lastIn] : inputPath[0] != '\0') abort();
  if (expected.lastOut >= 0 ? outputPath != argv[expected.lastOut] : outputPath[0] != '\0') abort();
  if (dataSizeBits != expected.dataSizeBits) abort();
  if (dataSizeBits != 0 && dataSizeBits != 16 && dataSizeBits != 32 && dataSizeBits != 64) abort();
  return 0;
}
