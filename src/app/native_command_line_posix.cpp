// The native command line. A swap of files goes through SwapFileByteOrder as on Windows; a stream
// (standard input or output, a named pipe) through SwapStreamByteOrder. Either way the swap says
// only whether it worked: why it failed is read afterwards from the POSIX file layer's last
// failure, or from the input's length.
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "file_failure_posix.h"
#include "file_layer.h"
#include "native_arguments.h"
#include "native_command_line.h"
#include "orvane_version.h"
#include "swap.h"

namespace {

const char kStandardStream[] = "-";

bool IsStandardStream(const char* path) { return strcmp(path, kStandardStream) == 0; }

bool IsNamedPipe(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISFIFO(info.st_mode);
}

bool IsRegularFile(FileLayer::Handle file) {
  struct stat info;
  return fstat(static_cast<int>(file), &info) == 0 && S_ISREG(info.st_mode);
}

// A path as messages show it: quoted, or the standard stream that `-` stands for.
std::string NameOf(const char* path, const char* streamName) {
  return IsStandardStream(path) ? streamName : "'" + std::string(path) + "'";
}
std::string InputName() { return NameOf(g_inputPath, "standard input"); }
std::string OutputName() { return NameOf(g_outputPath, "standard output"); }

void Say(const std::string& message) { fprintf(stderr, "orvane: %s\n", message.c_str()); }

std::string Reason(int error, const char* shortfall) {
  return error != 0 ? strerror(error) : shortfall;
}

// The input refused for its length: empty, or not a whole number of blocks.
std::string SizeMessage(uint64_t size, unsigned blockBytes) {
  if (size == 0) return InputName() + " is empty";
  char text[96];
  snprintf(text, sizeof text, " is %" PRIu64 " byte%s, not a whole number of %u-byte blocks", size,
           size == 1 ? "" : "s", blockBytes);
  return InputName() + text;
}

// The file a failed step concerns: the path it was given when that is one of the user's two, else
// the user's file on that side (a helper file beside it is of no interest to the user).
std::string NameForStep(const FileFailure& failure, bool outputSide) {
  if (failure.path && strcmp(failure.path, g_inputPath) == 0) return InputName();
  if (failure.path && strcmp(failure.path, g_outputPath) == 0) return OutputName();
  return outputSide ? OutputName() : InputName();
}

// What the file layer's failed step says, naming the file it concerns; empty when no step failed.
std::string FailedStepMessage(const FileFailure& failure) {
  switch (failure.step) {
    case FileStep::kOpen:
      return "cannot open " + NameForStep(failure, false) + ": " + strerror(failure.error);
    case FileStep::kCreate:
      return "cannot open " + NameForStep(failure, true) +
             " for writing: " + strerror(failure.error);
    case FileStep::kRead:
      return "cannot read " + NameForStep(failure, false) + ": " +
             Reason(failure.error, "it ended before its full size");
    case FileStep::kWrite:
      return "cannot write " + NameForStep(failure, true) + ": " +
             Reason(failure.error, "nothing more was stored");
    case FileStep::kCreateCopy:
      return "cannot create the swapped copy beside " + NameForStep(failure, true) + ": " +
             strerror(failure.error);
    case FileStep::kManyNames:
      return "cannot swap " + NameForStep(failure, true) +
             " in place: it has more than one name (hard links), which replacing it would split";
    case FileStep::kReplace:
      return "cannot put the swapped copy in the place of " + NameForStep(failure, true) + ": " +
             strerror(failure.error);
    case FileStep::kAllocate:
      return "cannot swap " + InputName() + ": " + strerror(failure.error);
    case FileStep::kNone:
      break;
  }
  return "";
}

// Says why the swap failed: from the file layer's failed step when there was one, else from the
// input's length (`streamedLength` when it was streamed, else the file's size).
int ReportFailure(unsigned blockBytes, const uint64_t* streamedLength) {
  const std::string stepMessage = FailedStepMessage(LastFileFailure());
  if (!stepMessage.empty()) {
    Say(stepMessage);
    return kExitFailure;
  }
  struct stat info;
  if (streamedLength) {
    Say(SizeMessage(*streamedLength, blockBytes));
  } else if (stat(g_inputPath, &info) == 0 &&
             !IsSwappableSize(static_cast<uint64_t>(info.st_size), blockBytes)) {
    Say(SizeMessage(static_cast<uint64_t>(info.st_size), blockBytes));
  } else {
    Say("cannot swap " + InputName());
  }
  return kExitFailure;
}

// Swaps through SwapStreamByteOrder: the input (standard input or a named pipe, or a file when the
// output is standard output) read in pieces until it ends. A regular file as the input is checked
// for its size first, so that it is refused before the output is touched, as in a swap of files.
int SwapStreams(unsigned blockBytes) {
  FileLayer& files = SystemFileLayer();
  const bool fromStandardInput = IsStandardStream(g_inputPath);
  const FileLayer::Handle input =
      fromStandardInput ? FileLayer::Handle{STDIN_FILENO} : files.OpenInput(g_inputPath);
  if (input == FileLayer::kNoFile) return ReportFailure(blockBytes, nullptr);

  uint64_t size = 0;
  if (IsRegularFile(input) && files.GetSize(input, &size) && !IsSwappableSize(size, blockBytes)) {
    if (!fromStandardInput) files.Close(input);
    Say(SizeMessage(size, blockBytes));
    return kExitFailure;
  }
  const bool toStandardOutput = IsStandardStream(g_outputPath);
  // Standard input redirected from the very file named as the output: creating the output would
  // truncate the input before it is read.
  if (!toStandardOutput && files.IsSameFile(input, g_outputPath)) {
    if (!fromStandardInput) files.Close(input);
    Say(InputName() + " is " + OutputName() +
        " itself: to swap it in place, name it as -in and -out");
    return kExitFailure;
  }
  const FileLayer::Handle output =
      toStandardOutput ? FileLayer::Handle{STDOUT_FILENO} : files.CreateOutput(g_outputPath);
  const bool swapped = output != FileLayer::kNoFile &&
                       SwapStreamByteOrder(files, input, output, blockBytes * 8, &size);
  if (output != FileLayer::kNoFile && !toStandardOutput) files.Close(output);
  if (!fromStandardInput) files.Close(input);
  return swapped ? kExitSuccess : ReportFailure(blockBytes, &size);
}

}  // namespace

int RunNativeCommandLine(int argc, const char* const* argv) {
  if (argc == 2 && (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0)) {
    PrintNativeHelp();
    return kExitSuccess;
  }
  if (argc == 2 && strcmp(argv[1], "--version") == 0) {
    printf("orvane %s\n", ORVANE_VERSION_TEXT);
    return kExitSuccess;
  }
  if (!ReadNativeArguments(argc, argv)) return kExitFailure;
  // A whole number of bytes, as the arguments allow no other data size.
  const unsigned blockBytes = static_cast<unsigned>(g_dataSizeBits) / 8;

  if (IsStandardStream(g_outputPath) && isatty(STDOUT_FILENO)) {
    Say("swapped data not written to a terminal: redirect standard output, or name a file as -out");
    return kExitFailure;
  }
  if (IsStandardStream(g_inputPath) || IsStandardStream(g_outputPath) || IsNamedPipe(g_inputPath))
    return SwapStreams(blockBytes);
  if (SwapFileByteOrder(g_inputPath, g_outputPath, blockBytes * 8)) return kExitSuccess;
  return ReportFailure(blockBytes, nullptr);
}
