// Which output a path gets. A swap in place, an output that does not exist and an existing regular
// file of this user with one name are written to a staged file that takes the name once whole, so
// that no failure leaves a partial output. Everything else is written directly, as it always was: a
// device or a pipe (reached through whatever links, /dev/stdout among them, whose target names no
// file in any folder), a file of another owner or with several names (replacing it would take it
// from its owner or split its names, as it would split a file mounted on another name), an
// existing file in a folder that takes no new file (no write permission, a read-only mount), any
// output in a folder that keeps every file (append-only), an open file whose name is gone, and the
// output of a stream, whose blocks are written as they come.
//
// The output's path is looked up once, as a whole, to see what it reaches; its folder is then
// opened once, and every later look-up goes by name within it.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "guards.h"
#include "outputs.h"

namespace {

FileError OpenFailure(int error) {
  return SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
}

FileError Refusal(FileReason reason) { return Failure(FileStep::kOpen, FileSide::kOutput, reason); }

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

template <typename T, typename... Arguments>
FileError Made(OwnedOutput* output, Arguments&&... arguments) {
  *output = MakeOutput<T>(std::forward<Arguments>(arguments)...);
  return *output ? FileError{}
                 : Failure(FileStep::kAllocate, FileSide::kOutput, FileReason::kNoMemory);
}

// Opened for writing only to learn that it may be written, and to write it where it is written
// directly; never following a link, which would be another file than the one found.
int OpenNamed(const FolderEntry& entry, Descriptor* named) {
  const int error = Owned(openat(entry.folder.Get(), entry.name.c_str(),
                                 O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC),
                          named);
  if (error == 0) fcntl(named->Get(), F_SETFL, fcntl(named->Get(), F_GETFL) & ~O_NONBLOCK);
  return error;
}

// Makes a staged output, its staged file created and its length reserved before anything is read.
FileError MakeStaged(StagedOutput::Target target, InputFile& input, OwnedOutput* made) {
  *made = MakeOutput<StagedOutput>(std::move(target), input);
  return *made ? static_cast<StagedOutput&>(**made).Create()
               : SystemFailure(FileStep::kCreateStaged, FileSide::kOutput, ENOMEM);
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
  StagedOutput::Target target{Staging::kInPlace, std::move(entry), Descriptor(), Fingerprint(),
                              false};
  if (const FileError error = LockAgainstOtherSwaps(input.Get(), &target.held); error.Failed())
    return error;
  if (IsAppendOnly(target.entry.folder.Get())) return Refusal(FileReason::kAppendOnlyFolder);
  {
    Descriptor named;  // closed before the file is watched, which no writer may hold open
    if (const int error = OpenNamed(target.entry, &named))
      return error == ELOOP ? Refusal(FileReason::kChanged) : OpenFailure(error);
    struct stat info;
    if (fstat(named.Get(), &info) != 0) return OpenFailure(LastError());
    if (!IsSameFile(info, open) || static_cast<uint64_t>(info.st_size) != input.Size())
      return Refusal(FileReason::kChanged);
    if (info.st_nlink != 1) return Refusal(FileReason::kManyNames);
    if (IsMountedSomewhere(info)) return Refusal(FileReason::kMounted);
    // Taken once the file is open for writing, which may change it (an overlay's lower file is
    // copied up, with a new change time), so that only the changes of others count; nothing is
    // read before.
    target.fingerprint = FingerprintOf(info);
  }
  if (const FileError error = WatchForWriters(target.held.Get(), &target.watched); error.Failed())
    return error;
  return MakeStaged(std::move(target), input, output);
}

// An existing regular file, not the input.
FileError Existing(InputFile& input, FolderEntry entry, OwnedOutput* output) {
  if (!WouldSystemOpen(entry.folder.Get(), entry.info))
    return Refusal(FileReason::kOthersInSharedFolder);
  Descriptor named;
  if (const int error = OpenNamed(entry, &named)) return OpenFailure(error);
  struct stat info;
  if (fstat(named.Get(), &info) != 0) return OpenFailure(LastError());
  const bool ownable = geteuid() == 0 || info.st_uid == geteuid();
  if (info.st_nlink != 1 || !ownable || IsMountedSomewhere(info))
    return Made<DirectOutput>(output, std::move(named), true, false);
  OwnedOutput staged;
  const FileError made = MakeStaged(
      {Staging::kExistingOutput, std::move(entry), std::move(named), FingerprintOf(info), false},
      input, &staged);
  if (!made.Failed()) {
    *output = std::move(staged);
    return FileError{};
  }
  const int code = made.step == FileStep::kCreateStaged ? made.code : 0;
  if (staged && (code == EACCES || code == EPERM || code == EROFS)) {
    return Made<DirectOutput>(output, static_cast<StagedOutput&>(*staged).TakeHeld(), true, false);
  }
  return AsOpenFailure(made);
}

// The output of a file, found by name in its folder.
FileError ForFile(InputFile& input, FolderEntry entry, OwnedOutput* output) {
  struct stat open;
  if (fstat(input.Get(), &open) != 0) return OpenFailure(LastError());
  if (entry.exists && IsSameFile(entry.info, open))
    return InPlace(input, std::move(entry), open, output);
  if (entry.exists && S_ISDIR(entry.info.st_mode)) return OpenFailure(EISDIR);
  // Nothing written beside it could be renamed or removed.
  if (IsAppendOnly(entry.folder.Get())) return Made<DirectOutput>(output, std::move(entry), 0);
  if (!entry.exists) {
    return AsOpenFailure(
        MakeStaged({Staging::kNewOutput, std::move(entry), Descriptor(), Fingerprint(), false},
                   input, output));
  }
  if (!S_ISREG(entry.info.st_mode)) return Made<DirectOutput>(output, std::move(entry), 0);
  return Existing(input, std::move(entry), output);
}

// A named pipe that `path` reached, refused where the system's rule on shared folders would refuse
// to open it by its name: another user's pipe there would receive the data.
FileError CheckSharedPipe(int base, const char* path, const struct stat& reached) {
  FolderEntry entry;
  if (FindFinalEntry(base, path, &entry).Failed() || !entry.exists ||
      !IsSameFile(entry.info, reached) || WouldSystemOpen(entry.folder.Get(), entry.info))
    return FileError{};
  return Refusal(FileReason::kOthersInSharedFolder);
}

}  // namespace

FileError OpenPosixOutput(InputFile& input, int base, const char* path, OwnedOutput* output) {
  Descriptor reached;
  struct stat info;
  const bool exists = Owned(openat(base, path, O_PATH | O_CLOEXEC), &reached) == 0 &&
                      fstat(reached.Get(), &info) == 0;
  if (exists && !input.IsFile()) {
    struct stat open;
    if (fstat(input.Get(), &open) == 0 && IsSameFile(info, open)) {
      // A regular file read as a stream for the size of 0 it reports (a file under /proc), named
      // as the output too: swapped as a file, and found empty.
      if (S_ISREG(open.st_mode) && open.st_size == 0)
        return Failure(FileStep::kSize, FileSide::kInput);
      return Refusal(FileReason::kIsInput);
    }
  }
  // A device or a pipe, or an open file whose name is gone (/proc/self/fd/N), is written directly
  // through what the path reached.
  if (exists && S_ISFIFO(info.st_mode)) {
    if (const FileError refused = CheckSharedPipe(base, path, info); refused.Failed())
      return refused;
  }
  if (exists && (IsNameless(info) || (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode))))
    return Made<DirectOutput>(output, std::move(reached), false, true);
  FolderEntry entry;
  const FileError found = FindFinalEntry(base, path, &entry);
  const int unnamed = found.Failed()       ? 0
                      : entry.name.empty() ? (*path == '\0' ? ENOENT : EISDIR)
                                           : 0;
  if (input.IsFile()) {
    if (found.Failed()) return found;
    if (unnamed != 0) return OpenFailure(unnamed);
    return ForFile(input, std::move(entry), output);
  }
  // A stream's output is created with its first whole block: until then nothing is said of it.
  if (found.Failed() && found.reason != FileReason::kErrno) return found;
  return Made<DirectOutput>(output, std::move(entry), found.Failed() ? found.code : unnamed);
}
