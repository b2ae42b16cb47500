// The native command line: the arguments read into values, the standard streams that `-` names
// refused where they cannot serve (closed, a terminal, the input itself), and one swap through the
// file layer, whose outcome is said in one line on standard error where it failed.
#include "native_command_line.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "messages.h"
#include "native_arguments.h"
#include "progress.h"
#include "standard_streams.h"
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
    if (toStandardOutput && IsSameRegularFile(input->Get(), STDOUT_FILENO)) {
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
                                 unsigned closed, const SwapOptions& options,
                                 std::string* refusal) {
  SwapOutcome outcome = CheckInput(input, arguments.layout->View(), options);
  if (!outcome.Succeeded()) return outcome;
  if (closed & kStandardOutputBit) {
    *refusal = RefusalMessage(Refusal::kStandardOutputClosed, arguments);
  } else if (!IsStandardStream(arguments.inputPath) &&
             IsSameRegularFile(input.Get(), STDOUT_FILENO)) {
    *refusal = RefusalMessage(Refusal::kOutputIsInput, arguments);
  } else {
    WaitForWriter(input);
    const OwnedOutput output = StandardOutput();
    return SwapInto(SystemFileLayer(), input, *output, arguments.layout->View(), options);
  }
  return outcome;
}

// The help or the version (`request`) on standard output; a write that fails (a full disk, a closed
// stream) is said like any other failure, never taken for success.
int PrintToStandardOutput(NativeRequest request, unsigned closed) {
  if (closed & kStandardOutputBit) return Fail(UnwrittenMessage(request, true, 0));
  errno = 0;
  fputs(request == NativeRequest::kHelp ? kNativeHelp : kNativeVersion, stdout);
  if (fflush(stdout) == 0 && !ferror(stdout)) return kExitSuccess;
  return Fail(UnwrittenMessage(request, false, errno));
}

// One swap to `output`, resolved by the file layer, which `arguments` name in messages (standard
// output where they name it "-"); what it says where it failed, or nothing.
std::string SwapOne(const NativeArguments& arguments, ResolvedPath* output, unsigned closed,
                    const SwapOptions& options) {
  InputFile input;
  std::string refusal;
  if (!OpenInput(arguments, closed, &input, &refusal)) return refusal;
  const StreamType inputType = TypeOf(input.Get());
  const SwapOutcome outcome =
      IsStandardStream(arguments.outputPath)
          ? SwapToStandardOutput(input, arguments, closed, options, &refusal)
          : SwapOpenInput(SystemFileLayer(), input, output, arguments.layout->View(), options);
  if (!refusal.empty()) return refusal;
  // A file held open for writing is refused in place: where the holder is this command's own
  // standard output (`-out /dev/stdout >>f`), that is the reason, not another process.
  if (outcome.error.reason == FileReason::kHeld && IsWriterOf(STDOUT_FILENO, input.Get()))
    return RefusalMessage(Refusal::kInPlaceHeldByStandardOutput, arguments);
  return outcome.Succeeded() ? std::string() : FailureMessage(outcome, arguments, inputType);
}

// The name a file has in a folder: what follows the last slash, trailing slashes aside.
std::string BaseName(const char* path) {
  std::string name(path);
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool IsRegular(const PathTarget& target) { return target.kind == PathTarget::Kind::kRegular; }

// What each file reached, resolved by the layer, each value given up at once: a command may name
// more files than a process may hold folders open.
std::vector<PathTarget> TargetsOf(const std::vector<const char*>& files) {
  std::vector<PathTarget> targets(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (const OwnedPath resolved = SystemFileLayer().Resolve(files[i], nullptr))
      targets[i] = resolved->target;
  }
  return targets;
}

// The bytes of the files, for the progress line: a file that cannot be asked counts for none.
uint64_t TotalSize(const std::vector<PathTarget>& files) {
  uint64_t total = 0;
  for (const PathTarget& file : files) total += IsRegular(file) ? file.size : 0;
  return total;
}

// For each file swapped in place, the earlier operand that names the very same file (whatever the
// spelling or the link), or null: a second swap of it would undo the first and leave it as it was,
// with nothing said. Asked once, before any swap replaces a file.
std::vector<const char*> EarlierNamesOfSameFile(const std::vector<const char*>& names,
                                                const std::vector<PathTarget>& files) {
  std::vector<const char*> earlier(files.size(), nullptr);
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t j = 0; j < i && IsRegular(files[i]) && !earlier[i]; ++j) {
      if (IsRegular(files[j]) && files[j].IsSameFile(files[i])) earlier[i] = names[j];
    }
  }
  return earlier;
}

// The outputs written into the folder, by base name and by the file each name reached once swapped
// (a swap replaces the file, which then has another identity): two names that reach one file,
// through links or as the file itself, would have one output.
class FolderOutputs {
 public:
  /// The file whose output `name`, which reached `output`, would write over, or null.
  const char* EarlierOutput(const std::string& name, const ResolvedPath* output,
                            const char* input) {
    const auto first = names_.emplace(name, input);
    if (!first.second) return first.first->second;
    for (const auto& written : reached_) {
      if (output && IsRegular(output->target) && written.first.IsSameFile(output->target))
        return written.second;
    }
    return nullptr;
  }
  /// `output`, as resolved again once swapped, is the output of `input`.
  void Written(const ResolvedPath* output, const char* input) {
    if (output && IsRegular(output->target)) reached_.emplace_back(output->target, input);
  }

 private:
  std::map<std::string, const char*> names_;
  std::vector<std::pair<PathTarget, const char*>> reached_;
};

// Each file in place, or into the folder, opened once; a failure is said and the others are still
// swapped. Two files with one output are refused the second time, never written over it; so is, in
// place, a file named a second time.
int SwapFiles(const NativeArguments& arguments, unsigned closed) {
  FileLayer& layer = SystemFileLayer();
  const std::vector<const char*>& files = arguments.files;
  const ResolvedPath* folderPath = arguments.intoFolder ? arguments.output.get() : nullptr;
  if (folderPath && folderPath->error.Failed()) {
    SwapOutcome opened;
    opened.error = folderPath->error;
    return Fail(FailureMessage(opened, arguments, StreamType::kOther));
  }
  // What each file reached before any is swapped: in place, each is its own output, resolved again
  // for its swap.
  const bool showTotal = isatty(STDERR_FILENO) == 1;
  const std::vector<PathTarget> targets =
      !arguments.intoFolder || showTotal ? TargetsOf(files) : std::vector<PathTarget>();
  Progress progress(files.size(), showTotal ? TotalSize(targets) : 0);
  std::string folder = arguments.intoFolder ? arguments.outputPath : "";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  FolderOutputs outputs;
  const std::vector<const char*> earlier = arguments.intoFolder
                                               ? std::vector<const char*>(files.size())
                                               : EarlierNamesOfSameFile(files, targets);
  bool failed = false;
  for (size_t i = 0; i < files.size(); ++i) {
    NativeArguments one;
    one.inputPath = files[i];
    one.dataSizeBits = arguments.dataSizeBits;
    one.layout = arguments.layout;
    one.range = arguments.range;
    const std::string name = arguments.intoFolder ? BaseName(files[i]) : files[i];
    const std::string output = folder + name;
    const OwnedPath outputPath = layer.Resolve(name.c_str(), folderPath);
    std::string message;
    if (!arguments.intoFolder) {
      if (earlier[i]) message = SwappedAlreadyMessage(files[i], earlier[i]);
    } else if (const char* first = outputs.EarlierOutput(name, outputPath.get(), files[i])) {
      message = SameOutputMessage(files[i], output.c_str(), first);
    }
    one.outputPath = output.c_str();
    if (message.empty())
      message = SwapOne(one, outputPath.get(), closed, progress.For(i, arguments.range));
    if (message.empty() && arguments.intoFolder)
      outputs.Written(layer.Resolve(name.c_str(), folderPath).get(), files[i]);
    if (message.empty()) continue;
    progress.Erase();
    Fail(message);
    failed = true;
  }
  return failed ? kExitFailure : kExitSuccess;
}

int Swap(const NativeArguments& arguments, unsigned closed) {
  if (!arguments.files.empty()) return SwapFiles(arguments, closed);
  Progress progress(1, 0);
  // The output named with one file was resolved with the arguments; any other is resolved here.
  OwnedPath resolved;
  ResolvedPath* output = arguments.output.get();
  if (!output && !IsStandardStream(arguments.outputPath)) {
    resolved = SystemFileLayer().Resolve(arguments.outputPath, nullptr);
    output = resolved.get();
  }
  const std::string message = SwapOne(arguments, output, closed, progress.For(0, arguments.range));
  progress.Erase();
  return message.empty() ? kExitSuccess : Fail(message);
}

}  // namespace

int RunNativeCommandLine(int argc, const char* const* argv) {
  const unsigned closed = FillClosedStandardStreams();
  // A file size limit is a failure like any other, reported by the write it stops.
  signal(SIGXFSZ, SIG_IGN);
  NativeArguments arguments;
  const NativeRequest request = ReadNativeArguments(argc, argv, &arguments);
  switch (request) {
    case NativeRequest::kHelp:
    case NativeRequest::kVersion:
      return PrintToStandardOutput(request, closed);
    case NativeRequest::kMalformed:
      return kExitFailure;
    case NativeRequest::kSwap:
      break;
  }
  if (arguments.files.empty() && IsStandardStream(arguments.outputPath) &&
      !(closed & kStandardOutputBit) && TypeOf(STDOUT_FILENO) == StreamType::kTerminal)
    return Fail(RefusalMessage(Refusal::kTerminalOutput, arguments));
  return Swap(arguments, closed);
}
