// The outputs of the POSIX file layer, and the policy that chooses one for an input and a path
// (output_policy.cpp).
#pragma once

#include <signal.h>
#include <sys/stat.h>

#include "file_layer.h"
#include "folder.h"
#include "metadata.h"
#include "staged_file.h"

/// Written directly, as a device or a pipe must be: opened (created, truncated) only at the first
/// write, so that an empty stream or a failed first read leaves it as it was. Never removed.
class DirectOutput final : public OutputFile {
 public:
  /// Created or truncated at the first write, by name in the folder found once.
  explicit DirectOutput(FolderEntry entry) : entry_(std::move(entry)) {}
  /// An open file of its own, truncated at the first write; or, where `reopen` says so, one opened
  /// for nothing but to be found again (O_PATH), opened for writing at the first write.
  DirectOutput(Descriptor file, bool reopen) : file_(std::move(file)), reopen_(reopen) {}
  /// A descriptor another owns (standard output).
  explicit DirectOutput(int borrowed) : borrowed_(borrowed) {}

  FileError Write(const void* data, uint32_t size) override;
  FileError Commit() override { return FileError{}; }
  PathTarget Written() const override;

 private:
  [[nodiscard]] int Open();

  FolderEntry entry_;
  Descriptor file_;
  bool reopen_ = false;
  int borrowed_ = -1;
  bool opened_ = false;
};

/// What a staged file takes the place of.
enum class Staging { kInPlace, kNewOutput, kExistingOutput };

/// Written to a staged file beside the output, which takes the output's name on commit, once
/// whole, given the metadata of the file it replaces and, for a swap in place, flushed with its
/// rename, so that a power cut leaves the old or the new contents.
class StagedOutput final : public OutputFile {
 public:
  /// What the staged file is to take the place of, as it was found.
  struct Target {
    Staging staging;
    FolderEntry entry;
    /// The file the name names, held: an existing output open for writing, or the file swapped in
    /// place, locked against other swaps; none for a new output.
    Descriptor held{};
    Fingerprint fingerprint{};
    /// In place: whether the system tells, through `held`, of a process that opens the file for
    /// writing (a read lease), so that a writer up to the replacement is not lost.
    bool watched = false;
    /// SIGIO's action before the file was watched, put back when the watch is given up.
    struct sigaction signalBefore = {};
  };

  /// The staged output for `target`: the staged file created, given the flags of the file it
  /// replaces, and the input's length reserved in it, before anything is read; or why it could not
  /// be (a failed creation kCreateStaged, no room for the length a failed write), the file held
  /// then given back in `heldBack` where asked, for an output written directly instead. `input`
  /// gives a new output its access and, in place, its metadata; it is closed before the staged file
  /// takes its name.
  static FileError Make(Target target, InputFile& input, OwnedOutput* made,
                        Descriptor* heldBack = nullptr);
  ~StagedOutput() override;

  FileError Write(const void* data, uint32_t size) override;
  bool SkipHole(uint64_t size) override;
  FileError Commit() override;
  PathTarget Written() const override { return written_; }

 private:
  StagedOutput(Target target, InputFile& input) : target_(std::move(target)), input_(input) {}
  FileError Create();
  FileError CheckUnchanged();
  FileError PutInPlace();

  Target target_;
  InputFile& input_;
  StagedFile staged_;
  PathTarget written_;
};

/// Chooses the output that the resolved `path` names for `input` (see FileLayer::OpenOutput) and
/// opens it, taking what `path` holds.
FileError OpenPosixOutput(InputFile& input, PosixPath& path, OwnedOutput* output);
