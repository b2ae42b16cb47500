// The file layer on POSIX: the same steps and outcomes as on Win32. A single read or write may move
// fewer bytes than asked, so both loop until done.
//
// A swap to another file never holds the whole file: it streams through one small buffer into a
// new file beside the output, renamed over it once whole. A buffer of the file's size, fresh memory
// that the kernel must find and zero while the page cache is full of data still being written
// back, stalled the swap on a busy machine for many times the copy's own time.
//
// A file swapped in place is replaced by renaming a new file over it, which is atomic within one
// folder. The folder is looked up once and held open: the new file is created in it and renamed
// within it by name, so that nobody who can write the folder can redirect either step by putting
// a link in the file's place while it is swapped.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "file_guards_posix.h"
#include "file_layer.h"

namespace {

static_assert(sizeof(off_t) >= 8, "files beyond 4 GiB need a 64-bit file offset");

constexpr size_t kLargestCall = size_t{4} << 20;
// Every file goes through a buffer small enough to stay in the processor's cache between its read,
// its swap and its write, and to come from the heap: fresh pages, which a large buffer would need,
// cost more to fault in than the copy.
constexpr uint32_t kStreamPiece = uint32_t{256} << 10;

size_t CallSize(size_t left) { return left < kLargestCall ? left : kLargestCall; }

int Fd(FileLayer::Handle file) { return static_cast<int>(file); }

FileLayer::Identity IdentityOf(const struct stat& info) {
  FileLayer::Identity identity;
  identity.volume = static_cast<uint64_t>(info.st_dev);
  identity.index = static_cast<uint64_t>(info.st_ino);
  identity.size = static_cast<uint64_t>(info.st_size);
  identity.modified = info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
  identity.changed = info.st_ctim.tv_sec * 1000000000LL + info.st_ctim.tv_nsec;
  return identity;
}

bool IsSameIdentity(const FileLayer::Identity& a, const FileLayer::Identity& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size &&
         a.modified == b.modified && a.changed == b.changed;
}

// The descriptor, moved above the three standard ones when it landed on one of them (which only a
// caller that started with one closed can see), so that no file is ever read or written as if it
// were a standard stream.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int error = errno;
  close(fd);
  errno = error;
  return moved;
}

// The new file a swap in place is writing, for the signal handler to remove: an interrupted swap
// leaves nothing behind. Set and cleared with the signals blocked.
volatile sig_atomic_t pendingFolder = -1;
char pendingName[FileLayer::kLongestPath];
struct sigaction previousActions[NSIG];

void RemovePendingAndResignal(int signal) {
  if (pendingFolder >= 0) unlinkat(pendingFolder, pendingName, 0);
  sigaction(signal, &previousActions[signal], nullptr);
  raise(signal);  // blocked while the handler runs: delivered, with its old action, on return
}

sigset_t CleanedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (EndsProgramByDefault(signal)) sigaddset(&set, signal);
  }
  return set;
}

// Registers the new file for removal on every signal that would end the program; a signal that
// was ignored when the swap began stays ignored.
void RegisterPending(int folder, const char* name) {
  const sigset_t set = CleanedSignals();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &set, &old);
  snprintf(pendingName, sizeof pendingName, "%s", name);
  pendingFolder = folder;
  struct sigaction action = {};
  action.sa_handler = RemovePendingAndResignal;
  action.sa_mask = set;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (!EndsProgramByDefault(signal) || sigaction(signal, nullptr, &previousActions[signal]) != 0)
      continue;
    if (previousActions[signal].sa_handler != SIG_IGN) sigaction(signal, &action, nullptr);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

void UnregisterPending() {
  if (pendingFolder < 0) return;
  const sigset_t set = CleanedSignals();
  sigset_t old;
  sigprocmask(SIG_BLOCK, &set, &old);
  pendingFolder = -1;
  for (int signal = 1; signal < NSIG; ++signal) {
    if (EndsProgramByDefault(signal)) sigaction(signal, &previousActions[signal], nullptr);
  }
  sigprocmask(SIG_SETMASK, &old, nullptr);
}

// Opens the folder part of `path` (up to its last slash; "." where it has none), relative to
// `base`: readable where it may be, so that it can be flushed, else for lookups only.
int OpenFolder(int base, const char* path, const char** name) {
  const char* slash = strrchr(path, '/');
  *name = slash ? slash + 1 : path;
  char folder[FileLayer::kLongestPath];
  const size_t length = !slash ? 0 : slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length >= sizeof folder) {
    errno = ENAMETOOLONG;
    return -1;
  }
  if (length == 0) {
    strcpy(folder, ".");
  } else {
    memcpy(folder, path, length);
    folder[length] = '\0';
  }
  int fd = openat(base, folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = openat(base, folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  return AboveStandardStreams(fd);
}

// Follows `path` to the folder that holds its final target and that target's name in it, each link
// read once and followed only where the system would. Returns the folder, open, or -1 with errno
// set, or with errno 0 where a link is not followed (kUnfollowedLink).
int OpenFinalFolder(const char* path, char* name) {
  char link[FileLayer::kLongestPath];
  const char* part = nullptr;
  int folder = OpenFolder(AT_FDCWD, path, &part);
  for (int links = 0; folder >= 0; ++links) {
    if (strlen(part) >= FileLayer::kLongestPath) {
      errno = ENAMETOOLONG;
      break;
    }
    strcpy(name, part);
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode))
      return folder;
    if (!WouldSystemFollow(folder, info)) {
      errno = 0;
      break;
    }
    const ssize_t length = readlinkat(folder, name, link, sizeof link - 1);
    if (length < 0 || links == 40) {
      if (length >= 0) errno = ELOOP;
      break;
    }
    link[length] = '\0';
    const int next = OpenFolder(folder, link, &part);
    close(folder);
    folder = next;
  }
  const int error = errno;
  if (folder >= 0) close(folder);
  errno = error;
  return -1;
}

// The owner and group of `info` given to `fd`. Where the owner cannot be given (only a privileged
// process may give a file away), the swap fails rather than take the file from its owner; the
// group alone may fail where it grants nothing more or less than everyone else has.
FileLayer::Error GiveOwner(int fd, const struct stat& info) {
  if (fchown(fd, info.st_uid, info.st_gid) == 0) return FileLayer::kOk;
  const int error = errno;
  struct stat now;
  if (fstat(fd, &now) != 0) return errno;
  if (now.st_uid != info.st_uid) return error;
  const bool groupMatters = ((info.st_mode >> 3) & 7) != (info.st_mode & 7);
  if (now.st_gid != info.st_gid && groupMatters) return error;
  return FileLayer::kOk;
}

class PosixFileLayer final : public FileLayer {
 public:
  Error OpenInput(const char* path, Handle* file) override {
    const int fd = AboveStandardStreams(open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (fd < 0) return errno;
    struct stat info;
    const Error error = fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : kOk;
    if (error != kOk) {
      close(fd);
      return error;
    }
    *file = fd;
    return kOk;
  }

  Error CreateOutput(const char* path, Handle* file) override {
    const int fd =
        AboveStandardStreams(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY | O_CLOEXEC, 0666));
    if (fd < 0) return errno;
    *file = fd;
    return kOk;
  }

  bool IsSameFile(Handle file, const char* path) override {
    struct stat open;
    struct stat named;
    return fstat(Fd(file), &open) == 0 && stat(path, &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
  }

  Error GetSize(Handle file, uint64_t* size) override {
    struct stat info;
    if (fstat(Fd(file), &info) != 0) return errno;
    *size = static_cast<uint64_t>(info.st_size);
    return kOk;
  }

  Error ReadAll(Handle file, void* buffer, uint32_t size) override {
    uint32_t got = 0;
    const Error error = ReadUpTo(file, buffer, size, &got);
    return error != kOk ? error : got == size ? kOk : kShortTransfer;
  }

  Error ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    auto* at = static_cast<char*>(buffer);
    for (*got = 0; *got < size;) {
      const ssize_t came = read(Fd(file), at + *got, CallSize(size - *got));
      if (came < 0 && errno == EINTR) continue;
      if (came < 0) return errno;
      if (came == 0) break;
      *got += static_cast<uint32_t>(came);
    }
    return kOk;
  }

  Error WriteAll(Handle file, const void* buffer, uint32_t size) override {
    auto* at = static_cast<const char*>(buffer);
    for (size_t left = size; left > 0;) {
      const ssize_t put = write(Fd(file), at, CallSize(left));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return errno;
      if (put == 0) return kShortTransfer;
      at += put;
      left -= static_cast<size_t>(put);
    }
    return kOk;
  }

  void Close(Handle file) override { close(Fd(file)); }

  Error FindForReplacement(Handle file, const char* path, uint64_t size,
                           Replacement* replacement) override {
    struct stat open;
    if (fstat(Fd(file), &open) != 0) return errno;
    replacement->identity = IdentityOf(open);
    if (const Error locked = LockAgainstOtherSwaps(Fd(file), replacement)) return locked;
    const int folder = OpenFinalFolder(path, replacement->name);
    if (folder < 0) return errno != 0 ? errno : kUnfollowedLink;
    replacement->folder = folder;
    if (IsAppendOnly(folder)) return kAppendOnlyFolder;
    // Opened for writing only to learn that it may be written, as when the swap wrote through it;
    // never written through this descriptor.
    const int named = AboveStandardStreams(openat(
        folder, replacement->name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (named < 0) return errno == ELOOP ? kChanged : errno;
    struct stat info;
    const Error error = fstat(named, &info) != 0 ? errno
                        : info.st_dev != open.st_dev || info.st_ino != open.st_ino ||
                                replacement->identity.size != size
                            ? kChanged
                        : info.st_nlink != 1       ? kManyNames
                        : IsMountedSomewhere(info) ? kMounted
                                                   : kOk;
    close(named);
    return error != kOk ? error : WatchForWriters(replacement);
  }

  bool ReplacesOutputs() override { return true; }

  // A file of another owner, or with several names, is written directly, as it always was:
  // replacing it would take it from its owner or split its names.
  Error FindForOutput(const char* path, Replacement* replacement) override {
    replacement->durable = false;
    // A device or a pipe, reached through whatever links (/dev/stdout among them, whose target
    // names no file in any folder), is written directly, as is an open file whose name is gone.
    struct stat reached;
    if (stat(path, &reached) == 0 &&
        (IsNameless(reached) || (!S_ISREG(reached.st_mode) && !S_ISDIR(reached.st_mode)))) {
      replacement->target = Target::kDirect;
      return kOk;
    }
    const int folder = OpenFinalFolder(path, replacement->name);
    if (folder < 0) return errno != 0 ? errno : kUnfollowedLink;
    replacement->folder = folder;
    if (replacement->name[0] == '\0') return *path == '\0' ? ENOENT : EISDIR;
    if (IsAppendOnly(folder)) {
      replacement->target = Target::kDirect;  // as nothing written beside it could be removed
      return kOk;
    }
    struct stat info;
    if (fstatat(folder, replacement->name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return errno;
      replacement->target = Target::kNewOutput;
      return kOk;
    }
    if (S_ISDIR(info.st_mode)) return EISDIR;
    replacement->target = Target::kDirect;
    if (!S_ISREG(info.st_mode)) return kOk;
    const int named = AboveStandardStreams(openat(
        folder, replacement->name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (named < 0) return errno;
    const bool ownable = geteuid() == 0 || info.st_uid == geteuid();
    if (fstat(named, &info) != 0 || info.st_nlink != 1 || !ownable) {
      close(named);
      return kOk;
    }
    replacement->original = named;
    replacement->identity = IdentityOf(info);
    replacement->target = Target::kExistingOutput;
    return kOk;
  }

  Error CreateReplacement(Replacement* replacement) override {
    const int folder = Fd(replacement->folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
      unsigned char random[6];
      if (getrandom(random, sizeof random, 0) != sizeof random) return errno;
      static const char kLetters[] =
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
      char letters[7];
      for (int i = 0; i < 6; ++i) letters[i] = kLetters[random[i] % 62];
      letters[6] = '\0';
      snprintf(replacement->newName, sizeof replacement->newName, "orvane-%s.tmp", letters);
      // Blocked around the creation, so that the signal handler knows of every new file.
      const sigset_t set = CleanedSignals();
      sigset_t old;
      sigprocmask(SIG_BLOCK, &set, &old);
      const int fd = AboveStandardStreams(
          openat(folder, replacement->newName,
                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
      const int error = errno;
      if (fd >= 0) RegisterPending(folder, replacement->newName);
      sigprocmask(SIG_SETMASK, &old, nullptr);
      if (fd >= 0) {
        replacement->file = fd;
        return kOk;
      }
      replacement->newName[0] = '\0';
      if (error != EEXIST) return error;
    }
    return EEXIST;
  }

  // Owner and group first, whose change clears the set-id bits; the bits last, after the access
  // control list, whose mask they set.
  Error KeepIdentity(Handle file, Replacement* replacement) override {
    struct stat info;
    if (fstat(Fd(file), &info) != 0) return errno;
    const int fd = Fd(replacement->file);
    if (replacement->target == Target::kNewOutput) return GiveNewOutputAccess(Fd(file), info, fd);
    Error error = GiveOwner(fd, info);
    if (error == kOk) error = GiveAttributes(Fd(file), fd);
    if (error == kOk && fchmod(fd, info.st_mode & 07777) != 0) error = errno;
    struct stat now;
    if (error == kOk && fstat(fd, &now) != 0) error = errno;
    if (error == kOk && (now.st_mode & 07777) != (info.st_mode & 07777)) error = EPERM;
    return error;
  }

  Error Flush(Handle file) override { return fsync(Fd(file)) == 0 ? kOk : errno; }

  // The name looked up within the held folder, without following a link: a write to the file since
  // it was found changes its size or times, and a file or link put in its place has another inode.
  // A new output takes its name only while no file has it.
  Error Replace(Replacement* replacement) override {
    close(Fd(replacement->file));
    replacement->file = kNoFile;
    const int folder = Fd(replacement->folder);
    struct stat named;
    const bool isNew = replacement->target == Target::kNewOutput;
    if (fstatat(folder, replacement->name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return errno;
      if (!isNew) return kChanged;
    } else if (isNew || !IsSameIdentity(IdentityOf(named), replacement->identity) ||
               HasWriterCome(*replacement)) {
      return kChanged;
    }
    const sigset_t set = CleanedSignals();
    sigset_t old;
    sigprocmask(SIG_BLOCK, &set, &old);
    const Error error = PutInPlace(folder, replacement);
    if (error == kOk) {
      UnregisterPending();
      replacement->newName[0] = '\0';
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (replacement->original != kNoFile) close(Fd(replacement->original));
    replacement->original = kNoFile;
    if (error != kOk) return error;
    // A rename reaches the disk with its folder; one opened for lookups only cannot be flushed, and
    // is left to the system to write back: the rename has happened either way.
    if (replacement->durable) fsync(folder);
    close(folder);
    replacement->folder = kNoFile;
    return kOk;
  }

  void Abandon(Replacement* replacement) override {
    if (replacement->file != kNoFile) close(Fd(replacement->file));
    if (replacement->original != kNoFile) close(Fd(replacement->original));
    replacement->original = kNoFile;
    if (replacement->folder != kNoFile) {
      if (replacement->newName[0] != '\0')
        unlinkat(Fd(replacement->folder), replacement->newName, 0);
      UnregisterPending();
      close(Fd(replacement->folder));
    }
    replacement->newName[0] = '\0';
    replacement->file = kNoFile;
    replacement->folder = kNoFile;
  }

  // Only ever a piece's buffer: a swap to another file streams, as a swap in place does.
  void* AllocateBuffer(size_t size) override { return malloc(size); }
  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }

  uint64_t LargestWholeFile() override { return UINT32_MAX; }
  uint32_t WholeReadPieceBytes() override { return kLargestCall; }
  uint32_t StreamPieceBytes() override { return kStreamPiece; }
};

PosixFileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
