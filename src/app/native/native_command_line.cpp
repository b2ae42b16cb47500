// The native program: the command line it shares with Orvane.exe, and what Linux users expect of
// a command besides. The arguments are read into values (with none, where Orvane.exe opens its
// dialog, it says what is missing), each path (and "-", a standard stream) resolved once by the
// file layer, and one swap through it, whose outcome is said in one line on standard error where
// it failed, where Orvane.exe stays silent; swapped data is never written to a terminal; help and
// version go to standard output.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
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

// The help or the version (`request`) on standard output; a write that fails (a full disk, a closed
// stream) is said like any other failure, never taken for success.
int PrintToStandardOutput(NativeRequest request) {
  const OwnedPath output = StandardStream(FileSide::kOutput);
  if (!output || output->error.Failed()) return Fail(UnwrittenMessage(request, true, 0));
  errno = 0;
  fputs(request == NativeRequest::kHelp ? kNativeHelp : kNativeVersion, stdout);
  if (fflush(stdout) == 0 && !ferror(stdout)) return kExitSuccess;
  return Fail(UnwrittenMessage(request, false, errno));
}

// One swap of the input `from` names into the output `to` names, both resolved once (null where
// no memory could be had for them), which `arguments` name in messages; what it says where it
// failed, or nothing, and then what the output's name reaches in `written`.
std::string SwapOne(const NativeArguments& arguments, const ResolvedPath* from, ResolvedPath* to,
                    const SwapOptions& options, PathTarget* written = nullptr) {
  InputFile input;
  SwapOutcome outcome;
  outcome.error = from ? SystemFileLayer().OpenInput(*from, &input) : OutOfMemory(FileSide::kInput);
  if (outcome.error.Failed()) return FailureMessage(outcome, arguments, StreamType::kOther);
  const StreamType inputType = TypeOf(input.Get());
  outcome = SwapOpenInput(SystemFileLayer(), input, to, arguments.layout->View(), options);
  if (written) *written = outcome.written;
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

// The bytes of the files, for the progress line, each resolved and given up at once (a command
// may name more files than a process may hold folders open): one that cannot be asked counts for
// none.
uint64_t TotalSize(const std::vector<const char*>& files) {
  uint64_t total = 0;
  for (const char* file : files) {
    const OwnedPath resolved = SystemFileLayer().Resolve(file, nullptr);
    total += resolved && IsRegular(resolved->target) ? resolved->target.size : 0;
  }
  return total;
}

// The files a command has met, each under the operand that named it: a later name that reaches
// one of them (whatever its spelling or links) names a file swapped already in place, or an output
// written already. A swap replaces the file its output's name reaches, which then has another
// identity: both are met.
class FilesMet {
 public:
  /// The operand that named the file `path` reaches, or null.
  const char* Find(const ResolvedPath* path) const {
    for (const auto& met : met_) {
      if (path && IsRegular(path->target) && met.first.IsSameFile(path->target)) return met.second;
    }
    return nullptr;
  }
  void Add(const PathTarget& file, const char* operand) {
    if (IsRegular(file)) met_.emplace_back(file, operand);
  }

 private:
  std::vector<std::pair<PathTarget, const char*>> met_;
};

// Each file in place, or into the folder under its base name, each path resolved once; a failure
// is said and the others are still swapped. Two files with one output are refused the second time,
// never written over it; so is, in place, a file named a second time, which a second swap would
// undo, with nothing said.
int SwapFiles(const NativeArguments& arguments) {
  FileLayer& layer = SystemFileLayer();
  const std::vector<const char*>& files = arguments.files;
  const ResolvedPath* folderPath = arguments.intoFolder ? arguments.output.get() : nullptr;
  if (folderPath && folderPath->error.Failed()) {
    SwapOutcome opened;
    opened.error = folderPath->error;
    return Fail(FailureMessage(opened, arguments, StreamType::kOther));
  }
  Progress progress(files.size(), isatty(STDERR_FILENO) == 1 ? TotalSize(files) : 0);
  std::string folder = arguments.intoFolder ? arguments.outputPath : "";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::map<std::string, const char*> outputNames;
  FilesMet met;
  bool failed = false;
  for (size_t i = 0; i < files.size(); ++i) {
    NativeArguments one;
    one.inputPath = files[i];
    one.dataSizeBits = arguments.dataSizeBits;
    one.layout = arguments.layout;
    one.range = arguments.range;
    const std::string name = arguments.intoFolder ? BaseName(files[i]) : files[i];
    const std::string output = folder + name;
    one.outputPath = output.c_str();
    // In place, the file is its own output: one value, opened as both.
    const OwnedPath outputPath = layer.Resolve(name.c_str(), folderPath);
    const OwnedPath inputPath = arguments.intoFolder ? layer.Resolve(files[i], nullptr) : nullptr;
    const auto named = outputNames.emplace(name, files[i]);
    const char* first = named.second ? met.Find(outputPath.get()) : named.first->second;
    std::string message;
    if (first) {
      message = arguments.intoFolder ? SameOutputMessage(files[i], output.c_str(), first)
                                     : SwappedAlreadyMessage(files[i], first);
    } else {
      if (!arguments.intoFolder && outputPath) met.Add(outputPath->target, files[i]);
      PathTarget written;
      message = SwapOne(one, arguments.intoFolder ? inputPath.get() : outputPath.get(),
                        outputPath.get(), progress.For(i, arguments.range), &written);
      met.Add(written, files[i]);
    }
    if (message.empty()) continue;
    progress.Erase();
    Fail(message);
    failed = true;
  }
  return failed ? kExitFailure : kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  FillClosedStandardStreams();
  // A file size limit is a failure like any other, reported by the write it stops.
  signal(SIGXFSZ, SIG_IGN);
  NativeArguments arguments;
  const NativeRequest request = ReadNativeArguments(argc, argv, &arguments);
  if (request == NativeRequest::kHelp || request == NativeRequest::kVersion)
    return PrintToStandardOutput(request);
  if (request == NativeRequest::kMalformed) return kExitFailure;
  if (!arguments.files.empty()) return SwapFiles(arguments);
  if (arguments.output && arguments.output->target.kind == PathTarget::Kind::kTerminal)
    return Fail(TerminalOutputMessage());
  Progress progress(1, 0);
  const std::string message = SwapOne(arguments, arguments.input.get(), arguments.output.get(),
                                      progress.For(0, arguments.range));
  progress.Erase();
  return message.empty() ? kExitSuccess : Fail(message);
}
