// The staged file: a new file written beside the file it is to replace (or to become, for an output
// that does not exist yet), under a name no file has yet and a user recognises as Orvane's
// ("orvane-XXXXXX.tmp"), readable by nobody but its creator while it is written. It is removed when
// its owner goes without renaming it, and by any signal that would end the program while it exists
// and can be caught, so that nothing is left beside the file however the swap ends.
#pragma once

#include <cstdint>

#include "descriptor.h"

/// The staged name: "orvane-", kRandomLetters letters and digits, ".tmp", with room to spare; names
/// are drawn afresh up to kNameAttempts times where one is taken, each of 62^6 alike.
constexpr size_t kRandomLetters = 6;
constexpr size_t kStagedNameRoom = 32;
constexpr int kNameAttempts = 100;
static_assert(sizeof "orvane-.tmp" + kRandomLetters <= kStagedNameRoom, "the staged name fits");

class StagedFile {
 public:
  StagedFile() = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  ~StagedFile();

  /// Creates it in `folder`, which must stay open while it exists. 0 or the errno.
  [[nodiscard]] int Create(int folder);
  int Get() const { return file_.Get(); }
  /// Makes it `length` bytes long and gives it room on the disk now for the data of the file
  /// `like` (of that length; all of it where `like` is -1 or its holes cannot be told), so that
  /// neither its writing nor its rename waits for the file system to find room, and a disk without
  /// room or a file size limit is met before anything is written; where `like` has holes, so has
  /// it. 0, also where the file system cannot reserve; or the errno.
  [[nodiscard]] int Reserve(int like, uint64_t length);
  /// Closes it and renames it to `name` in its folder in one step: over the file of that name, or,
  /// with `replace` false, only while no file has it (EEXIST), by a link and the removal of the
  /// staged name where the file system cannot rename so. 0 or the errno; on failure it is still
  /// there for the destructor to remove.
  [[nodiscard]] int RenameTo(const char* name, bool replace);
  /// Closes it and exchanges it with the file `name` names, in one step: the staged name then
  /// names the old file, which Remove (or the destructor) removes, or a second Exchange puts back.
  /// 0 or the errno (EINVAL where the file system cannot exchange).
  [[nodiscard]] int Exchange(const char* name);
  /// Removes what the staged name names, if anything.
  void Remove();
  /// Leaves what the staged name names where it is: the old file, which an exchange could not put
  /// back, and which holds data no other name does.
  void Keep();

 private:
  int folder_ = -1;
  char name_[kStagedNameRoom] = {};
  Descriptor file_;
};
