// The native command line. A swap of files goes through SwapOpenFile as on Windows; a stream
// (standard input or output, a named pipe, a device) through SwapStream. Either way the swap's
// outcome names the failing step, the file's side and the system's reason, from which the one
// line on standard error is made.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "command_line.h"
#include "file_layer.h"
#include "native_arguments.h"
#include "native_command_line.h"
#include "swap.h"

namespace {

const char kStandardStream[] = "-";

// Which of the three standard descriptors were closed when the program started.
bool standardClosed[3];

// Gives each closed standard descriptor /dev/null, so that no file the program opens can take its
// number and be read or written as if it were that stream.
void FillClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    standardClosed[fd] = true;
    const int null = open("/dev/null", O_RDWR);
    if (null != fd && null >= 0) {
      dup2(null, fd);
      close(null);
    }
  }
}

bool IsStandardStream(const char* path) { return strcmp(path, kStandardStream) == 0; }

bool IsSameFileInfo(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A path as messages show it: quoted, or the standard stream that `-` stands for.
std::string NameOf(const char* path, const char* streamName) {
  return IsStandardStream(path) ? streamName : Quoted(path);
}
std::string InputName() { return NameOf(g_inputPath, "standard input"); }
std::string OutputName() { return NameOf(g_outputPath, "standard output"); }

int Fail(const std::string& message) {
  fprintf(stderr, "orvane: %s\n", message.c_str());
  return kExitFailure;
}

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

// What a failed swap says, naming the user's file on the failing side (a new file written beside
// it is of no interest to the user).
std::string FailureMessage(const SwapOutcome& outcome, unsigned blockBytes) {
  const bool output = outcome.side == SwapSide::kOutput;
  const std::string name = output ? OutputName() : InputName();
  const std::string reason = strerror(outcome.error);
  switch (outcome.step) {
    case SwapStep::kOpen:
      return "cannot open " + name + (output ? " for writing: " : ": ") + reason;
    case SwapStep::kSize:
      return SizeMessage(outcome.length, blockBytes);
    case SwapStep::kRead:
      return "cannot read " + name + ": " + Reason(outcome.error, "it ended before its full size");
    case SwapStep::kWrite:
      return "cannot write " + name + ": " + Reason(outcome.error, "nothing more was stored");
    case SwapStep::kAllocate:
      return "cannot swap " + InputName() + ": " + reason;
    case SwapStep::kCreateCopy:
      return "cannot create the swapped copy beside " + name + ": " + reason;
    case SwapStep::kManyNames:
      return "cannot swap " + name +
             " in place: it has more than one name (hard links), which replacing it would split";
    case SwapStep::kKeepIdentity:
      return "cannot give the swapped copy of " + name +
             " its owner, permissions and attributes: " + reason;
    case SwapStep::kChanged:
      return name + " changed while it was being swapped, and is left as it is";
    case SwapStep::kReplace:
      return "cannot put the swapped copy in the place of " + name + ": " + reason;
    case SwapStep::kArguments:
    case SwapStep::kNone:
      break;
  }
  return "cannot swap " + InputName();
}

// The help or the version on standard output; a write that fails (a full disk, a closed stream) is
// said like any other failure, never taken for success.
int PrintToStandardOutput(const char* text, const char* what) {
  if (standardClosed[STDOUT_FILENO])
    return Fail(std::string("cannot write ") + what + ": standard output is closed");
  errno = 0;
  fputs(text, stdout);
  if (fflush(stdout) == 0 && !ferror(stdout)) return kExitSuccess;
  return Fail(std::string("cannot write ") + what +
              " to standard output: " + Reason(errno, "nothing more was stored"));
}

int Finish(const SwapOutcome& outcome, unsigned blockBytes) {
  return outcome.Succeeded() ? kExitSuccess : Fail(FailureMessage(outcome, blockBytes));
}

// Standard output named by `-out -`, refused where it is closed, a terminal, or the very file the
// input comes from (it would read what it has just written, without end).
bool CheckStandardOutput(const struct stat& input, std::string* refusal) {
  struct stat output;
  if (standardClosed[STDOUT_FILENO]) {
    *refusal = "standard output is closed";
  } else if (isatty(STDOUT_FILENO)) {
    *refusal =
        "swapped data not written to a terminal: redirect standard output, or name a file "
        "as -out";
  } else if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(output.st_mode) &&
             S_ISREG(input.st_mode) && IsSameFileInfo(input, output)) {
    *refusal =
        "standard output is " + InputName() + " itself, which it would read back without end";
  } else {
    return true;
  }
  return false;
}

// The input as a stream, read in pieces until it ends: standard input, a named pipe, a device, or
// a file going to standard output. A regular file is checked for its size first, so that it is
// refused before the output is touched, as in a swap of files.
int SwapStreams(FileLayer::Handle input, const struct stat& info, unsigned blockBytes) {
  const auto size = static_cast<uint64_t>(info.st_size);
  if (S_ISREG(info.st_mode) && !IsSwappableSize(size, blockBytes))
    return Fail(SizeMessage(size, blockBytes));
  StreamOutput output;
  std::string refusal;
  if (IsStandardStream(g_outputPath)) {
    if (!CheckStandardOutput(info, &refusal)) return Fail(refusal);
    output.file = STDOUT_FILENO;
  } else {
    output.path = g_outputPath;
    struct stat named;
    if (stat(g_outputPath, &named) == 0 && IsSameFileInfo(info, named)) {
      if (S_ISFIFO(info.st_mode))
        return Fail(InputName() + " is a named pipe: it cannot be swapped in place");
      if (!S_ISREG(info.st_mode))
        return Fail(InputName() + " is not a regular file: it cannot be swapped in place");
      // Standard input redirected from the very file named as the output: creating the output
      // would truncate the input before it is read.
      return Fail(InputName() + " is " + OutputName() +
                  " itself: to swap it in place, name it as -in and -out");
    }
  }
  return Finish(SwapStream(SystemFileLayer(), input, output, blockBytes * 8), blockBytes);
}

// Opens the named input once. A named pipe is opened without waiting for a writer, so that one
// named as the output too is refused at once; once it is known to be a stream of its own, it is
// opened again through the descriptor (the same pipe, not the path looked up again) to wait for
// one, as a reader of a pipe expects.
int OpenNamedInput(struct stat* info, std::string* refusal) {
  int fd = open(g_inputPath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, info) != 0 || S_ISDIR(info->st_mode)) {
    *refusal = "cannot open " + InputName() + ": " + strerror(fd < 0 ? errno : EISDIR);
    if (fd >= 0) close(fd);
    return -1;
  }
  struct stat named;
  if (S_ISFIFO(info->st_mode) &&
      !(stat(g_outputPath, &named) == 0 && IsSameFileInfo(*info, named))) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const int waiting = open(self, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    struct stat again;
    if (waiting >= 0 && fstat(waiting, &again) == 0 && IsSameFileInfo(*info, again)) {
      close(fd);
      return waiting;
    }
    if (waiting >= 0) close(waiting);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int SwapNamedInput(unsigned blockBytes) {
  struct stat info;
  std::string refusal;
  const int input = OpenNamedInput(&info, &refusal);
  if (input < 0) return Fail(refusal);
  if (S_ISREG(info.st_mode) && !IsStandardStream(g_outputPath)) {
    return Finish(SwapOpenFile(SystemFileLayer(), input, g_outputPath, blockBytes * 8), blockBytes);
  }
  const int status = SwapStreams(input, info, blockBytes);
  close(input);
  return status;
}

int SwapStandardInput(unsigned blockBytes) {
  struct stat info;
  if (standardClosed[STDIN_FILENO] || fstat(STDIN_FILENO, &info) != 0)
    return Fail("standard input is closed");
  if (IsStandardStream(g_outputPath)) {
    struct stat output;
    if (fstat(STDOUT_FILENO, &output) == 0 && S_ISREG(info.st_mode) && S_ISREG(output.st_mode) &&
        IsSameFileInfo(info, output))
      return Fail(
          "standard output is the same file as standard input, which it would read back "
          "without end");
  }
  return SwapStreams(STDIN_FILENO, info, blockBytes);
}

}  // namespace

int RunNativeCommandLine(int argc, const char* const* argv) {
  FillClosedStandardStreams();
  // A file size limit is a failure like any other, reported by the write it stops.
  signal(SIGXFSZ, SIG_IGN);
  switch (ReadNativeArguments(argc, argv)) {
    case NativeRequest::kHelp:
      return PrintToStandardOutput(kNativeHelp, "the help");
    case NativeRequest::kVersion:
      return PrintToStandardOutput(kNativeVersion, "the version");
    case NativeRequest::kMalformed:
      return kExitFailure;
    case NativeRequest::kSwap:
      break;
  }
  // A whole number of bytes, as the arguments allow no other data size.
  const unsigned blockBytes = static_cast<unsigned>(g_dataSizeBits) / 8;

  if (IsStandardStream(g_outputPath) && isatty(STDOUT_FILENO) && !standardClosed[STDOUT_FILENO]) {
    return Fail(
        "swapped data not written to a terminal: redirect standard output, or name a file as -out");
  }
  return IsStandardStream(g_inputPath) ? SwapStandardInput(blockBytes) : SwapNamedInput(blockBytes);
}
