// The option/value parser, table-driven: what each command line yields, and where it stops.
#include "command_line.h"
#ifdef _WIN32
#include "command_line_win32.h"
#endif

#include <doctest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Parsed {
  bool ok;
  std::string input;
  std::string output;
  int32_t dataSizeBits;
  ParseStop stop = ParseStop::kNone;
  int index = 0;  // in the arguments after the program's name
};

const OptionForms kNative = OptionForms::kNative;

Parsed Parse(std::vector<const char*> arguments,
             bool (*isAllowedDataSize)(int32_t) = IsOfferedDataSize,
             OptionForms forms = OptionForms::kWindows) {
  arguments.insert(arguments.begin(), "Orvane.exe");
  const char* input = "";
  const char* output = "";
  int32_t bits = 0;
  const ParseResult result = ParseCommandLine(static_cast<int>(arguments.size()), arguments.data(),
                                              &input, &output, &bits, isAllowedDataSize, forms);
  return {result.ok(), input, output, bits, result.stop, result.index - 1};
}

}  // namespace

TEST_CASE("command lines that parse, and the values they give") {
  struct Case {
    std::vector<const char*> arguments;
    Parsed expected;
    OptionForms forms = OptionForms::kWindows;
  };
  const Case cases[] = {
      {{"-in", "a.bin", "-out", "b.bin", "-datasize", "32"}, {true, "a.bin", "b.bin", 32}},
      {{"-datasize", "64", "-out", "b.bin", "-in", "a.bin"}, {true, "a.bin", "b.bin", 64}},
      {{"/IN", "a", "-Out", "b", "/DataSize", "16"}, {true, "a", "b", 16}},
      {{"/in", "a", "/out", "b", "/datasize", "64"}, {true, "a", "b", 64}},
      {{"-IN", "a", "-OUT", "b", "-DATASIZE", "32"}, {true, "a", "b", 32}},
      {{"-datasize", "16bit"}, {true, "", "", 16}},
      {{"-datasize", "  +32"}, {true, "", "", 32}},
      {{"-datasize", "064"}, {true, "", "", 64}},
      {{"-in", "a.bin", "-in", "c.bin", "-out", "b.bin", "-datasize", "16"},
       {true, "c.bin", "b.bin", 16}},
      {{"-datasize", "16", "-datasize", "64"}, {true, "", "", 64}},
      {{"-in", "a.bin", "-out", "b.bin"}, {true, "a.bin", "b.bin", 0}},
      {{"-in", "*.bin"}, {true, "*.bin", "", 0}},
      {{"-in", "-out"}, {true, "-out", "", 0}},  // a value is never read as an option
      {{"-in", ""}, {true, "", "", 0}},
      {{}, {true, "", "", 0}},
      {{"--in=a.bin", "--OUT=b.bin", "--datasize=32"}, {true, "a.bin", "b.bin", 32}, kNative},
      {{"--in=x=1.bin", "--out", "--in=c.bin"}, {true, "x=1.bin", "--in=c.bin", 0}, kNative},
  };
  for (const Case& c : cases) {
    CAPTURE(c.arguments.size());
    CAPTURE(c.arguments.empty() ? "" : c.arguments[0]);
    const Parsed parsed = Parse(c.arguments, IsOfferedDataSize, c.forms);
    CHECK(parsed.ok == c.expected.ok);
    CHECK(parsed.input == c.expected.input);
    CHECK(parsed.output == c.expected.output);
    CHECK(parsed.dataSizeBits == c.expected.dataSizeBits);
  }
}

TEST_CASE("command lines that are usage errors stop at the first bad pair, and say where and why") {
  struct Case {
    std::vector<const char*> arguments;
    Parsed storedBeforeStop;
    OptionForms forms = OptionForms::kWindows;
  };
  const ParseStop kDataSize = ParseStop::kDataSize;
  const ParseStop kMissingValue = ParseStop::kMissingValue;
  const ParseStop kUnknownOption = ParseStop::kUnknownOption;
  const ParseStop kValueGiven = ParseStop::kValueGiven;
  const Case cases[] = {
      {{"-datasize", "0x10"}, {false, "", "", 0, kDataSize, 1}},
      {{"-datasize", "8"}, {false, "", "", 8, kDataSize, 1}},
      {{"-datasize", "24"}, {false, "", "", 24, kDataSize, 1}},
      {{"-datasize", "128"}, {false, "", "", 128, kDataSize, 1}},
      {{"-datasize", "4294967312"}, {false, "", "", INT32_MAX, kDataSize, 1}},  // 2^32 + 16
      {{"-datasize", "-4294967312"}, {false, "", "", INT32_MIN, kDataSize, 1}},
      {{"-datasize", "-16"}, {false, "", "", -16, kDataSize, 1}},
      {{"-datasize", ""}, {false, "", "", 0, kDataSize, 1}},
      {{"-datasize", "8", "-datasize", "16"}, {false, "", "", 8, kDataSize, 1}},
      {{"-in"}, {false, "", "", 0, kMissingValue, 0}},
      {{"-out"}, {false, "", "", 0, kMissingValue, 0}},
      {{"-datasize"}, {false, "", "", 0, kMissingValue, 0}},
      {{"-in", "a.bin", "-datasize"}, {false, "a.bin", "", 0, kMissingValue, 2}},
      {{"-in", "a.bin", "-out", "b.bin", "x"}, {false, "a.bin", "b.bin", 0, kUnknownOption, 4}},
      {{"a.bin"}, {false, "", "", 0, kUnknownOption, 0}},
      {{"--in", "a.bin"}, {false, "", "", 0, kUnknownOption, 0}},
      {{"-in:", "a.bin"}, {false, "", "", 0, kUnknownOption, 0}},
      {{"in", "a.bin"}, {false, "", "", 0, kUnknownOption, 0}},
      {{"-datasize", "16", "-size", "32", "-in", "a.bin"}, {false, "", "", 16, kUnknownOption, 2}},
      {{"--in=a.bin"}, {false, "", "", 0, kUnknownOption, 0}},
      {{"-in=a.bin"}, {false, "", "", 0, kUnknownOption, 0}, kNative},
      {{"/in=a.bin"}, {false, "", "", 0, kUnknownOption, 0}, kNative},
      {{"--in="}, {false, "", "", 0, kMissingValue, 0}, kNative},
      {{"--in=a", "--datasize=8"}, {false, "a", "", 8, kDataSize, 1}, kNative},
      {{"--help=x"}, {false, "", "", 0, kValueGiven, 0}, kNative},
      {{"--version="}, {false, "", "", 0, kValueGiven, 0}, kNative},
  };
  for (const Case& c : cases) {
    CAPTURE(c.arguments[0]);
    CAPTURE(c.arguments.size() > 1 ? c.arguments[1] : "");
    const Parsed parsed = Parse(c.arguments, IsOfferedDataSize, c.forms);
    CHECK_FALSE(parsed.ok);
    CHECK(parsed.input == c.storedBeforeStop.input);
    CHECK(parsed.output == c.storedBeforeStop.output);
    CHECK(parsed.dataSizeBits == c.storedBeforeStop.dataSizeBits);
    CHECK(parsed.stop == c.storedBeforeStop.stop);
    CHECK(parsed.index == c.storedBeforeStop.index);
  }
}

TEST_CASE("the caller's rule decides which data sizes pass") {
  auto everyWholeByte = [](int32_t bits) { return bits > 0 && bits % 8 == 0; };
  CHECK(Parse({"-datasize", "24", "-in", "a.bin"}, everyWholeByte).dataSizeBits == 24);
  const Parsed refused = Parse({"-datasize", "24", "-datasize", "20"}, everyWholeByte);
  CHECK(refused.stop == ParseStop::kDataSize);
  CHECK(refused.index == 3);
}

TEST_CASE("ParseDecimal reads a number the way atoi does, saturating beyond 32 bits") {
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {
      {"16", 16},
      {"  \t32", 32},
      {"-7", -7},
      {"+64", 64},
      {"16bit", 16},
      {"0x10", 0},
      {"", 0},
      {"bit", 0},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MAX},
      {"4294967312", INT32_MAX},
      {"99999999999999999999999", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"-2147483649", INT32_MIN},
  };
  for (const Case& c : cases) {
    CAPTURE(c.text);
    CHECK(ParseDecimal(c.text) == c.value);
  }
}
