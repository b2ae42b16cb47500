#include "outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "writers.h"

namespace {

// What WriteAll returned, as the write's result.
FileError WriteResult(int error) {
  if (error == 0) return FileError{};
  return error < 0 ? Failure(FileStep::kWrite, FileSide::kOutput, FileReason::kShortTransfer)
                   : SystemFailure(FileStep::kWrite, FileSide::kOutput, error);
}

// The system call that counts a file's cached pages (Linux 6.5), numbered alike on every
// architecture; older headers do not name it.
constexpr long kCacheStat = 451;

// Drops the cached pages of the file a staged file replaces where all of them are on the disk, so
// that the staged file's pages take their memory rather than memory the system has not touched for
// a while (in a virtual machine, memory the host may have taken back). A page not yet written, or a
// system that cannot tell, leaves the cache as it is: dropping it would write the file first.
void DropCleanCache(int file) {
  struct {
    uint64_t offset, length;
  } range = {0, 0};
  struct {
    uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
  } pages = {};
  if (syscall(kCacheStat, file, &range, &pages, 0) == 0 && pages.dirty == 0 &&
      pages.writeback == 0 && pages.cached != 0)
    posix_fadvise(file, 0, 0, POSIX_FADV_DONTNEED);
}

// Flushes `folder` to the disk. One held for look-ups only (O_PATH) cannot be flushed itself, and
// is opened again for reading; where this user may not read it, its rename is left to the system
// to write back. 0 or the errno.
int FlushFolder(int folder) {
  Descriptor readable;
  const int flags = fcntl(folder, F_GETFL);
  if (flags != -1 && (flags & O_PATH) != 0) {
    if (Owned(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC), &readable) != 0) return 0;
    folder = readable.Get();
  }
  return fsync(folder) == 0 ? 0 : LastError();
}

}  // namespace

int DirectOutput::Open() {
  if (borrowed_ >= 0) return 0;
  if (reopen_) {
    // The very file found when the output was opened, through its descriptor rather than its path.
    const Descriptor found = std::move(file_);
    return Reopen(found.Get(), O_WRONLY | O_TRUNC, &file_);
  }
  if (file_) return ftruncate(file_.Get(), 0) != 0 ? LastError() : 0;
  return Owned(openat(entry_.folder.Get(), entry_.name.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666),
               &file_);
}

FileError DirectOutput::Write(const void* data, uint32_t size) {
  if (!opened_) {
    if (const int error = Open()) return SystemFailure(FileStep::kOpen, FileSide::kOutput, error);
    opened_ = true;
  }
  return WriteResult(WriteAll(borrowed_ >= 0 ? borrowed_ : file_.Get(), data, size));
}

PathTarget DirectOutput::Written() const {
  return opened_ ? TargetOfOpen(borrowed_ >= 0 ? borrowed_ : file_.Get()) : PathTarget();
}

StagedOutput::~StagedOutput() {
  if (target_.watched) StopWatching(&target_.held, target_.signalBefore);
}

FileError StagedOutput::Make(Target target, InputFile& input, OwnedOutput* made,
                             Descriptor* heldBack) {
  void* memory = malloc(sizeof(StagedOutput));
  if (!memory) return OutOfMemory(FileSide::kOutput);
  OwnedOutput output(new (memory) StagedOutput(std::move(target), input));
  auto& staged = static_cast<StagedOutput&>(*output);
  const FileError error = staged.Create();
  if (!error.Failed())
    *made = std::move(output);
  else if (heldBack)
    *heldBack = std::move(staged.target_.held);
  return error;
}

FileError StagedOutput::Create() {
  if (const int error = staged_.Create(target_.entry.folder.Get()))
    return SystemFailure(FileStep::kCreateStaged, FileSide::kOutput, error);
  const int flagged =
      target_.staging == Staging::kNewOutput ? 0 : GiveFlags(target_.held.Get(), staged_.Get());
  if (flagged != 0) return SystemFailure(FileStep::kCopyMetadata, FileSide::kOutput, flagged);
  if (const int error = staged_.Reserve(input_.IsFile() ? input_.Get() : -1, input_.Size()))
    return WriteResult(error);
  if (target_.staging == Staging::kExistingOutput) DropCleanCache(target_.held.Get());
  return FileError{};
}

FileError StagedOutput::Write(const void* data, uint32_t size) {
  return WriteResult(WriteAll(staged_.Get(), data, size));
}

// The staged file has the input's length from the start, its holes where the input has them.
bool StagedOutput::SkipHole(uint64_t size) {
  return lseek(staged_.Get(), static_cast<off_t>(size), SEEK_CUR) >= 0;
}

// The name looked up within the held folder, without following a link: a write to the file since
// it was found changes its size or times, and a file or link put in its place has another inode. A
// new output takes its name only while no file has it.
FileError StagedOutput::CheckUnchanged() {
  const bool isNew = target_.staging == Staging::kNewOutput;
  const FolderEntry& entry = target_.entry;
  struct stat named;
  if (fstatat(entry.folder.Get(), entry.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return SystemFailure(FileStep::kReplace, FileSide::kOutput, LastError());
    if (isNew) return FileError{};
  } else if (!isNew && FingerprintOf(named) == target_.fingerprint &&
             !HasWriterCome(target_.held.Get(), target_.watched)) {
    return FileError{};
  }
  return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kChanged);
}

// A watched file is exchanged with the staged one, and put back when a writer opened it meanwhile,
// whose writes then land on the named file once the lease is given up; otherwise, or where the file
// system cannot exchange, the staged file is renamed over it, and a writer that came meanwhile
// fails the swap, which can no longer undo it. An old file that cannot be put back stays under the
// staged name: it may hold what no other name does.
FileError StagedOutput::PutInPlace() {
  const char* name = target_.entry.name.c_str();
  if (target_.watched) {
    const int exchanged = staged_.Exchange(name);
    if (exchanged == 0) {
      if (!HasWriterCome(target_.held.Get(), true)) {
        staged_.Remove();  // the old file, now beside the new
        return FileError{};
      }
      if (const int error = staged_.Exchange(name)) {
        staged_.Keep();
        return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kNotPutBack, error);
      }
      return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kChanged);
    }
    if (exchanged != EINVAL && exchanged != ENOSYS)
      return SystemFailure(FileStep::kReplace, FileSide::kOutput, exchanged);
  }
  if (const int error = staged_.RenameTo(name, target_.staging != Staging::kNewOutput)) {
    if (error == EEXIST)
      return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kChanged);
    return SystemFailure(FileStep::kReplace, FileSide::kOutput, error);
  }
  if (HasWriterCome(target_.held.Get(), target_.watched))
    return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kChanged);
  return FileError{};
}

FileError StagedOutput::Commit() {
  const int staged = staged_.Get();
  const Staging staging = target_.staging;
  const bool inPlace = staging == Staging::kInPlace;
  // An input that grew while it was read holds more than was swapped, and the output would be a
  // prefix nobody asked for. (In place, the file's fingerprint tells the same, and more.)
  struct stat now;
  if (!inPlace && input_.IsFile() && fstat(input_.Get(), &now) == 0 &&
      static_cast<uint64_t>(now.st_size) != input_.Size())
    return Failure(FileStep::kRead, FileSide::kInput, FileReason::kChanged);
  const int source = staging == Staging::kExistingOutput ? target_.held.Get() : input_.Get();
  const int copied = staging == Staging::kNewOutput ? GiveNewOutputAccess(source, staged)
                                                    : CopyMetadata(source, staged);
  if (copied != 0) return SystemFailure(FileStep::kCopyMetadata, FileSide::kOutput, copied);
  if (inPlace) {
    if (fsync(staged) != 0) return SystemFailure(FileStep::kWrite, FileSide::kOutput, LastError());
    input_.Close();
  }
  const PathTarget written = TargetOfOpen(staged);  // the staged file is let go before it is put
  if (const FileError changed = CheckUnchanged(); changed.Failed()) return changed;
  if (const FileError put = PutInPlace(); put.Failed()) return put;
  written_ = written;
  // A rename reaches the disk with its folder.
  if (const int error = inPlace ? FlushFolder(target_.entry.folder.Get()) : 0)
    return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kNotFlushed, error);
  return FileError{};
}
