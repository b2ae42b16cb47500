#include "staged_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Whether `signal`, left to its default action, ends the program and may be caught: every one but
// those that stop, continue or are ignored by default, and the two that cannot be caught.
bool EndsProgramByDefault(int signal) {
  for (const int other :
       {SIGKILL, SIGSTOP, SIGCHLD, SIGCONT, SIGTSTP, SIGTTIN, SIGTTOU, SIGURG, SIGWINCH}) {
    if (signal == other) return false;
  }
  return signal >= 1 && signal < NSIG && (signal < 32 || signal >= SIGRTMIN);
}

// The staged file that exists, for the signal handler to remove. Set and cleared with the signals
// blocked; one at a time, as the program swaps one file at a time.
volatile sig_atomic_t stagedFolder = -1;
char stagedName[kStagedNameRoom];
struct sigaction previousActions[NSIG];

void RemoveStagedAndResignal(int signal) {
  if (stagedFolder >= 0) unlinkat(stagedFolder, stagedName, 0);
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

// The cleaned signals blocked while its owner lives, so that the handler never sees the record
// half written, nor a file created but not yet recorded.
class BlockedSignals {
 public:
  BlockedSignals() {
    const sigset_t set = CleanedSignals();
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  BlockedSignals(const BlockedSignals&) = delete;
  BlockedSignals& operator=(const BlockedSignals&) = delete;
  ~BlockedSignals() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

// Records the staged file for removal on the cleaned signals. The handler is installed with the
// first staged file and stays: with none recorded it only hands the signal to its previous action,
// so that one call per signal at the first file is all the system calls it costs, for one file or
// many. A signal that was ignored when it was installed stays ignored. Called with the signals
// blocked.
void Register(int folder, const char* name) {
  snprintf(stagedName, sizeof stagedName, "%s", name);
  stagedFolder = folder;
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action = {};
  action.sa_handler = RemoveStagedAndResignal;
  action.sa_mask = CleanedSignals();
  for (int signal = 1; signal < NSIG; ++signal) {
    if (EndsProgramByDefault(signal) && sigaction(signal, &action, &previousActions[signal]) == 0 &&
        previousActions[signal].sa_handler == SIG_IGN)
      sigaction(signal, &previousActions[signal], nullptr);
  }
}

int RandomName(char* name, size_t room) {
  unsigned char random[kRandomLetters];
  if (getrandom(random, sizeof random, 0) != sizeof random) return LastError();
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (unsigned char& letter : random) letter = kLetters[letter % (sizeof kLetters - 1)];
  snprintf(name, room, "orvane-%.*s.tmp", static_cast<int>(sizeof random), random);
  return 0;
}

}  // namespace

StagedFile::~StagedFile() { Remove(); }

void StagedFile::Remove() {
  file_.Reset();
  if (name_[0] == '\0') return;
  BlockedSignals blocked;
  unlinkat(folder_, name_, 0);
  name_[0] = '\0';
  stagedFolder = -1;
}

void StagedFile::Keep() {
  file_.Reset();
  BlockedSignals blocked;
  name_[0] = '\0';
  stagedFolder = -1;
}

int StagedFile::Exchange(const char* name) {
  file_.Reset();
  return renameat2(folder_, name_, folder_, name, RENAME_EXCHANGE) == 0 ? 0 : LastError();
}

int StagedFile::Create(int folder) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    if (const int error = RandomName(name_, sizeof name_)) return error;
    BlockedSignals blocked;
    Descriptor created;
    const int error = Owned(
        openat(folder, name_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600),
        &created);
    if (error == 0) {
      folder_ = folder;
      file_ = std::move(created);
      Register(folder, name_);
      return 0;
    }
    name_[0] = '\0';
    if (error != EEXIST) return error;
  }
  return EEXIST;
}

int StagedFile::Reserve(int like, uint64_t length) {
  const off_t size = static_cast<off_t>(length);
  if (length == 0) return 0;
  if (ftruncate(file_.Get(), size) != 0) return LastError();
  const off_t reading = like < 0 ? -1 : lseek(like, 0, SEEK_CUR);
  int error = 0;
  for (off_t at = 0; at < size && error == 0;) {
    off_t data = reading < 0 ? -1 : lseek(like, at, SEEK_DATA);
    if (data < 0 && reading >= 0 && errno == ENXIO) break;  // only a hole follows
    off_t hole = data < 0 ? -1 : lseek(like, data, SEEK_HOLE);
    if (hole < 0) {  // the system cannot tell
      data = at;
      hole = size;
    }
    if (fallocate(file_.Get(), 0, data, (hole < size ? hole : size) - data) != 0)
      error = errno == EOPNOTSUPP || errno == ENOSYS ? -1 : LastError();
    at = hole;
  }
  if (reading >= 0) lseek(like, reading, SEEK_SET);
  return error < 0 ? 0 : error;
}

int StagedFile::RenameTo(const char* name, bool replace) {
  file_.Reset();
  BlockedSignals blocked;
  int renamed = renameat2(folder_, name_, folder_, name, replace ? 0 : RENAME_NOREPLACE);
  if (renamed != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // No file system that lacks the flag may replace a file that appeared meanwhile: a link, which
    // never replaces, gives the name; a file system without links refuses.
    if (linkat(folder_, name_, folder_, name, 0) != 0) return LastError();
    if (unlinkat(folder_, name_, 0) != 0) return 0;  // the destructor tries again
    renamed = 0;
  }
  if (renamed != 0) return LastError();
  name_[0] = '\0';
  stagedFolder = -1;
  return 0;
}
