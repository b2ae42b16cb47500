// Which output a path gets. A swap in place, an output that does not exist and an existing regular
// file of this user with one name are written to a staged file that takes the name once whole, so
// that no failure leaves a partial output. Everything else is written directly, as it always was: a
// device or a pipe (reached through whatever links, /dev/stdout among them, whose target names no
// file in any folder), a file of another owner or with several names (replacing it would take it
// from its owner or split its names, as it would split a file mounted on another name), an
// existing file in a folder that takes no new file (no write permission, a read-only mount), any
// output in a folder that keeps every file (append-only), and an open file that its name no longer
// leads to. The output of a stream is staged as any other: a stream that fails (not whole blocks,
// too short for its range, a read error) leaves an existing output as it was.
//
// The output's path was resolved once (folder.h): every look-up here goes by name within the folder
// it found, held open.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "append_only.h"
#include "bind_mounts.h"
#include "outputs.h"
#include "sticky_folders.h"
#include "writers.h"

namespace {

FileError OpenFailure(int error) {
  return SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
}

FileError Refusal(FileReason reason) { return Failure(FileStep::kOpen, FileSide::kOutput, reason); }

template <typename T, typename... Arguments>
FileError Made(OwnedOutput* output, Arguments&&... arguments) {
  *output = MakeOutput<T>(std::forward<Arguments>(arguments)...);
  return *output ? FileError{} : OutOfMemory(FileSide::kOutput);
}

// Opened for writing only to learn that it may be written, and what it is (`info`), and to write it
// where it is written directly; never following a link, which would be another file than the one
// found.
int OpenNamed(const FolderEntry& entry, Descriptor* named, struct stat* info) {
  if (const int error = Owned(openat(entry.folder.Get(), entry.name.c_str(),
                                     O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
                              named))
    return error;
  ClearNonBlocking(named->Get());
  return fstat(named->Get(), info) == 0 ? 0 : LastError();
}

// To the user, a staged file that cannot be created beside another file than the input is an
// output that cannot be opened.
FileError AsOpenFailure(FileError error) {
  if (error.step == FileStep::kCreateStaged) error.step = FileStep::kOpen;
  return error;
}

// The input itself: refused where another process locks it or has it open for writing (kHeld),
// where its name no longer names it (kChanged), where it has several names (kManyNames, kMounted),
// where its folder keeps every file (kAppendOnlyFolder), and where it may not be written (a file
// its user may not write is not replaced).
FileError InPlace(InputFile& input, FolderEntry entry, const struct stat& open,
                  OwnedOutput* output) {
  StagedOutput::Target target{Staging::kInPlace, std::move(entry)};
  if (const FileError error = LockAgainstOtherSwaps(input.Get(), &target.held); error.Failed())
    return error;
  if (IsAppendOnly(target.entry.folder.Get())) return Refusal(FileReason::kAppendOnlyFolder);
  {
    Descriptor named;  // closed before the file is watched, which no writer may hold open
    struct stat info;
    if (const int error = OpenNamed(target.entry, &named, &info))
      return error == ELOOP ? Refusal(FileReason::kChanged) : OpenFailure(error);
    if (!IsSameFile(info, open) || static_cast<uint64_t>(info.st_size) != input.Size())
      return Refusal(FileReason::kChanged);
    if (info.st_nlink != 1) return Refusal(FileReason::kManyNames);
    if (IsMountedSomewhere(info)) return Refusal(FileReason::kMounted);
    // Taken once the file is open for writing, which may change it (an overlay's lower file is
    // copied up, with a new change time), so that only the changes of others count; nothing is
    // read before.
    target.fingerprint = FingerprintOf(info);
  }
  if (const FileError error =
          WatchForWriters(target.held.Get(), &target.watched, &target.signalBefore);
      error.Failed())
    return error;
  return StagedOutput::Make(std::move(target), input, output);
}

// An existing regular file, not the input.
FileError Existing(InputFile& input, FolderEntry entry, OwnedOutput* output) {
  if (!WouldSystemOpen(entry.folder.Get(), entry.info))
    return Refusal(FileReason::kOthersInSharedFolder);
  Descriptor named;
  struct stat info;
  if (const int error = OpenNamed(entry, &named, &info)) return OpenFailure(error);
  const bool ownable = geteuid() == 0 || info.st_uid == geteuid();
  if (info.st_nlink != 1 || !ownable || IsMountedSomewhere(info))
    return Made<DirectOutput>(output, std::move(named), false);
  Descriptor held;
  const FileError made = StagedOutput::Make(
      {Staging::kExistingOutput, std::move(entry), std::move(named), FingerprintOf(info)}, input,
      output, &held);
  if (!made.Failed()) return made;
  const int code = made.step == FileStep::kCreateStaged ? made.code : 0;
  if (held && (code == EACCES || code == EPERM || code == EROFS))
    return Made<DirectOutput>(output, std::move(held), false);
  return AsOpenFailure(made);
}

// The output of an input, `open`, found by name in its folder; a stream's is never the stream.
FileError ForFile(InputFile& input, FolderEntry entry, const struct stat& open,
                  OwnedOutput* output) {
  if (entry.exists && IsSameFile(entry.info, open)) {
    return input.IsFile() ? InPlace(input, std::move(entry), open, output)
                          : Refusal(FileReason::kIsInput);
  }
  if (entry.exists && S_ISDIR(entry.info.st_mode)) return OpenFailure(EISDIR);
  // Nothing written beside it could be renamed or removed.
  if (IsAppendOnly(entry.folder.Get())) return Made<DirectOutput>(output, std::move(entry));
  if (!entry.exists) {
    return AsOpenFailure(
        StagedOutput::Make({Staging::kNewOutput, std::move(entry)}, input, output));
  }
  if (!S_ISREG(entry.info.st_mode)) return Made<DirectOutput>(output, std::move(entry));
  return Existing(input, std::move(entry), output);
}

}  // namespace

FileError OpenPosixOutput(InputFile& input, PosixPath& path, OwnedOutput* output) {
  struct stat open;
  if (fstat(input.Get(), &open) != 0) return OpenFailure(LastError());
  path.Refresh();
  const FileError& found = path.error;
  FolderEntry& entry = path.entry;
  // What the system reaches by the path: what a link of /proc reached, which its text may not name,
  // else what the walk found.
  const bool exists = path.reached || (!found.Failed() && entry.exists);
  const struct stat& info = path.reached ? path.reachedInfo : entry.info;
  // A stream's output is never the stream. A regular file is read as one only for the size of 0
  // it reports: a file under /proc, whose length is known once read and which nothing could
  // replace, or an empty one.
  if (exists && !input.IsFile() && IsSameFile(info, open)) {
    if (!S_ISREG(open.st_mode) || input.IsRegular()) return Refusal(FileReason::kIsInput);
    return IsInProc(input.Get()) ? Refusal(FileReason::kNotReplaceable)
                                 : Failure(FileStep::kSize, FileSide::kInput);
  }
  // Whether the name found leads to what the system reaches.
  const bool named = !found.Failed() && entry.exists && IsSameFile(entry.info, info);
  // An open file reached through a link of /proc whose text is its old name ("f (deleted)", a name
  // since moved, a folder since gone) is written through what the path reached, never by a name
  // that may be another file's.
  if (exists && S_ISREG(info.st_mode) && entry.throughProcLink && !named) {
    if (IsSameFile(info, open)) return Refusal(FileReason::kNotReplaceable);
    return Made<DirectOutput>(output, std::move(path.reached), true);
  }
  // Another user's pipe in a shared folder, where the system's rule would refuse to open it by its
  // name, would receive the data.
  if (exists && S_ISFIFO(info.st_mode) && named && !WouldSystemOpen(entry.folder.Get(), entry.info))
    return Refusal(FileReason::kOthersInSharedFolder);
  // A device or a pipe, reached through whatever links, is written directly through what the path
  // reached: what a link of /proc reached, else the file found by name in its folder.
  if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
    if (!path.reached) {
      if (const int error =
              Owned(openat(entry.folder.Get(), entry.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC),
                    &path.reached))
        return OpenFailure(error);
    }
    return Made<DirectOutput>(output, std::move(path.reached), true);
  }
  if (found.Failed()) return found;
  if (entry.name.empty()) return OpenFailure(EISDIR);
  return ForFile(input, std::move(entry), open, output);
}
