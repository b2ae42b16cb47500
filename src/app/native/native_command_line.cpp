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

// What each file reaches before any is swapped, each resolved and given up at once (a command may
// name more files than a process may hold folders open).
std::vector<PathTarget> TargetsOf(const std::vector<const char*>& files) {
  std::vector<PathTarget> targets(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (const OwnedPath resolved = SystemFileLayer().Resolve(files[i], nullptr))
      targets[i] = resolved->target;
  }
  return targets;
}

// The bytes of the files, for the progress line: one that cannot be asked counts for none.
uint64_t TotalSize(const std::vector<PathTarget>& files) {
  uint64_t total = 0;
  for (const PathTarget& file : files) total += IsRegular(file) ? file.size : 0;
  return total;
}

// The operand among `files` other than `self` that names the file `path` reaches, or null.
const char* OperandReached(const ResolvedPath* path, const std::vector<PathTarget>& files,
                           const std::vector<const char*>& names, size_t self) {
  for (size_t j = 0; path && IsRegular(path->target) && j < files.size(); ++j) {
    if (j != self && files[j].IsSameFile(path->target) && !files[j].IsSameFile(files[self]))
      return names[j];
  }
  return nullptr;
}

// The files a command has written, each under the operand whose swap wrote it: a later name that
// reaches one of them (whatever its spelling or links) names a file swapped already in place, or
// an output written already. A swap that failed before its output took the name wrote nothing,
// and the file may be named again.
class FilesWritten {
 public:
  /// The operand whose swap wrote the file `path` reaches, or null.
  const char* Find(const ResolvedPath* path) const {
    for (const auto& written : written_) {
      if (path && IsRegular(path->target) && written.first.IsSameFile(path->target))
        return written.second;
    }
    return nullptr;
  }
  void Add(const PathTarget& file, const char* operand) {
    if (IsRegular(file)) written_.emplace_back(file, operand);
  }

 private:
  std::vector<std::pair<PathTarget, const char*>> written_;
};

// Each file in place, or into the folder under its base name, each path resolved once for its swap;
// a failure is said and the others are still swapped. In place, a file named a second time is
// refused once swapped, as a second swap would undo the first with nothing said. Into the folder,
// two files with one output are refused the second time, never written over it, and so is an
// output that is another of the files: the files are resolved once more beforehand for that, and
// for the progress line's total where it is shown.
int SwapFiles(const NativeArguments& arguments) {
  FileLayer& layer = SystemFileLayer();
  const std::vector<const char*>& files = arguments.files;
  const ResolvedPath* folderPath = arguments.intoFolder ? arguments.output.get() : nullptr;
  if (folderPath && folderPath->error.Failed()) {
    SwapOutcome opened;
    opened.error = folderPath->error;
    return Fail(FailureMessage(opened, arguments, StreamType::kOther));
  }
  const bool showTotal = isatty(STDERR_FILENO) == 1;
  std::vector<PathTarget> inputs =
      arguments.intoFolder || showTotal ? TargetsOf(files) : std::vector<PathTarget>();
  Progress progress(files.size(), showTotal ? TotalSize(inputs) : 0);
  std::string folder = arguments.intoFolder ? arguments.outputPath : "";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::map<std::string, const char*> outputNames;
  FilesWritten written;
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
    std::string message;
    if (const char* first = written.Find(outputPath.get())) {
      message = arguments.intoFolder ? SameOutputMessage(files[i], output.c_str(), first)
                                     : SwappedAlreadyMessage(files[i], first);
    } else if (!arguments.intoFolder) {
      PathTarget reached;
      message = SwapOne(one, outputPath.get(), outputPath.get(), progress.For(i, arguments.range),
                        &reached);
      written.Add(reached, files[i]);
    } else if (const auto named = outputNames.emplace(name, files[i]); !named.second) {
      message = SameOutputMessage(files[i], output.c_str(), named.first->second);
    } else if (const char* other = OperandReached(outputPath.get(), inputs, files, i)) {
      message = OutputIsInputMessage(files[i], output.c_str(), other);
    } else {
      PathTarget reached;
      message = SwapOne(one, inputPath.get(), outputPath.get(), progress.For(i, arguments.range),
                        &reached);
      written.Add(reached, files[i]);
      // Replaced by its output (in place within the folder), the file has another identity now,
      // which the others meet as written.
      if (IsRegular(reached) && outputPath->target.IsSameFile(inputs[i])) inputs[i] = PathTarget();
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
