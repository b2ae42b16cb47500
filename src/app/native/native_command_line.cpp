// The native command line: the arguments read into values, the standard streams that `-` names
// refused where they cannot serve (closed, a terminal, the input itself), and one swap through the
// file layer, whose outcome is said in one line on standard error where it failed.
#include "native_command_line.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "command_line.h"
#include "messages.h"
#include "native_arguments.h"
#include "posix/streams.h"
#include "swap.h"

namespace {

bool IsStandardStream(const char* path) { return strcmp(path, "-") == 0; }

constexpr unsigned kStandardInputBit = 1u << 0;
constexpr unsigned kStandardOutputBit = 1u << 1;

// Opens the input the arguments name, or says why it cannot be. Standard output as the output is
// refused where it is the very file the input comes from (it would read what it has just written,
// without end).
// `closed` says which standard streams were closed when the program started.
bool OpenInput(const NativeArguments& arguments, unsigned closed, InputFile* input,
               std::string* refusal) {
  const bool toStandardOutput = IsStandardStream(arguments.outputPath);
  if (IsStandardStream(arguments.inputPath)) {
    if (closed & kStandardInputBit || OpenStandardInput(input).Failed()) {
      *refusal = RefusalMessage(Refusal::kStandardInputClosed, arguments);
      return false;
    }
    if (toStandardOutput && IsSameRegularFile(input->Get(), 1)) {
      *refusal = RefusalMessage(Refusal::kOutputIsStandardInput, arguments);
      return false;
    }
    return true;
  }
  SwapOutcome opened;
  opened.error = SystemFileLayer().OpenInput(arguments.inputPath, input);
  if (opened.error.Failed()) {
    *refusal = FailureMessage(opened, arguments, StreamType::kOther);
    return false;
  }
  return true;
}

// The swap into standard output: a regular input is checked for its size first, so that it is
// refused before standard output is looked at, as in a swap of files.
SwapOutcome SwapToStandardOutput(InputFile& input, const NativeArguments& arguments,
                                 unsigned closed, std::string* refusal) {
  SwapOutcome outcome;
  if (input.IsRegular() && !IsSwappableSize(input.Size(), arguments.dataSizeBits / 8)) {
    outcome.error = Failure(FileStep::kSize, FileSide::kInput);
    outcome.length = input.Size();
    return outcome;
  }
  if (closed & kStandardOutputBit) {
    *refusal = RefusalMessage(Refusal::kStandardOutputClosed, arguments);
  } else if (!IsStandardStream(arguments.inputPath) && IsSameRegularFile(input.Get(), 1)) {
    *refusal = RefusalMessage(Refusal::kOutputIsInput, arguments);
  } else {
    WaitForWriter(input);
    const OwnedOutput output = StandardOutput();
    return SwapInto(SystemFileLayer(), input, *output, arguments.dataSizeBits);
  }
  return outcome;
}

// The help or the version on standard output; a write that fails (a full disk, a closed stream) is
// said like any other failure, never taken for success.
int PrintToStandardOutput(const char* text, const char* what, unsigned closed) {
  if (closed & kStandardOutputBit)
    return Fail(std::string("cannot write ") + what + ": standard output is closed");
  errno = 0;
  fputs(text, stdout);
  if (fflush(stdout) == 0 && !ferror(stdout)) return kExitSuccess;
  const int error = errno;
  return Fail(std::string("cannot write ") + what +
              " to standard output: " + (error != 0 ? strerror(error) : "nothing more was stored"));
}

int Swap(const NativeArguments& arguments, unsigned closed) {
  InputFile input;
  std::string refusal;
  if (!OpenInput(arguments, closed, &input, &refusal)) return Fail(refusal);
  const StreamType inputType = TypeOf(input.Get());
  const SwapOutcome outcome =
      IsStandardStream(arguments.outputPath)
          ? SwapToStandardOutput(input, arguments, closed, &refusal)
          : SwapOpenInput(SystemFileLayer(), input, arguments.outputPath, arguments.dataSizeBits);
  if (!refusal.empty()) return Fail(refusal);
  return outcome.Succeeded() ? kExitSuccess : Fail(FailureMessage(outcome, arguments, inputType));
}

}  // namespace

int RunNativeCommandLine(int argc, const char* const* argv) {
  const unsigned closed = FillClosedStandardStreams();
  // A file size limit is a failure like any other, reported by the write it stops.
  signal(SIGXFSZ, SIG_IGN);
  NativeArguments arguments;
  switch (ReadNativeArguments(argc, argv, &arguments)) {
    case NativeRequest::kHelp:
      return PrintToStandardOutput(kNativeHelp, "the help", closed);
    case NativeRequest::kVersion:
      return PrintToStandardOutput(kNativeVersion, "the version", closed);
    case NativeRequest::kMalformed:
      return kExitFailure;
    case NativeRequest::kSwap:
      break;
  }
  if (IsStandardStream(arguments.outputPath) && !(closed & kStandardOutputBit) &&
      TypeOf(1) == StreamType::kTerminal)
    return Fail(RefusalMessage(Refusal::kTerminalOutput, arguments));
  return Swap(arguments, closed);
}
