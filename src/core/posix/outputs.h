// The outputs of the POSIX file layer, and the policy that chooses one for an input and a path.
#pragma once

#include <sys/stat.h>

#include "file_layer.h"
#include "folder.h"
#include "metadata.h"
#include "staged_file.h"

/// Written directly, as a device or a pipe must be: opened (created, truncated) only at the first
/// write, so that an empty stream or a failed first read leaves it as it was. Never removed.
class DirectOutput final : public OutputFile {
 public:
  /// Created or truncated at the first write, by name in the folder found once; or, where
  /// `failure` is an errno, failing with it at the first write.
  DirectOutput(FolderEntry entry, int failure) : entry_(std::move(entry)), failure_(failure) {}
  /// An open file of its own, truncated at the first write where `truncate` says so; or one
  /// opened for nothing but to be found again (O_PATH), opened for writing at the first write.
  DirectOutput(Descriptor file, bool truncate, bool reopen)
      : file_(std::move(file)), truncate_(truncate), reopen_(reopen) {}
  /// A descriptor another owns (standard output).
  explicit DirectOutput(int borrowed) : borrowed_(borrowed) {}

  FileError Write(const void* data, uint32_t size) override;
  FileError Commit() override { return FileError{}; }

 private:
  int Open();

  FolderEntry entry_;
  Descriptor file_;
  bool truncate_ = false;
  bool reopen_ = false;
  int borrowed_ = -1;
  int failure_ = 0;
  bool opened_ = false;
};

/// What a staged file takes the place of.
enum class Staging { kInPlace, kNewOutput, kExistingOutput };

/// Written to a staged file beside the output, which takes the output's name on commit, once
/// whole, given the metadata of the file it replaces and, for a swap in place, flushed with its
/// rename, so that a power cut leaves the old or the new contents.
class StagedOutput final : public OutputFile {
 public:
  /// `named` is the file the output's name names, held open (none for a new output);
  /// `fingerprint` what it was when it was found. `input` gives a new output its permission bits
  /// and, in place, its metadata; it is closed before the rename.
  StagedOutput(Staging staging, FolderEntry entry, Descriptor named, Fingerprint fingerprint,
               InputFile& input)
      : staging_(staging),
        entry_(std::move(entry)),
        named_(std::move(named)),
        fingerprint_(fingerprint),
        input_(input) {}

  /// Creates the staged file. 0 or the errno.
  int Create() { return staged_.Create(entry_.folder.Get()); }
  FileError Write(const void* data, uint32_t size) override;
  FileError Commit() override;
  /// Gives up the file the output's name names, for an output written directly instead.
  Descriptor TakeNamed() { return std::move(named_); }

 private:
  FileError CheckUnchanged();

  Staging staging_;
  FolderEntry entry_;
  Descriptor named_;
  Fingerprint fingerprint_;
  InputFile& input_;
  StagedFile staged_;
};

/// Chooses the output that `path` names for `input` (see FileLayer::OpenOutput) and opens it.
FileError OpenPosixOutput(InputFile& input, const char* path, OwnedOutput* output);
