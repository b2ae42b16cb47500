// What went wrong in a swap, as a value: the step it stopped at, the file concerned, and why. The
// file layer fills it in where it fails; the front end turns it into words once.
#pragma once

#include <cstdint>

/// The step at which a swap stopped.
enum class FileStep : uint8_t {
  kNone,          ///< it succeeded
  kArguments,     ///< an absent path, or a data size that is not allowed
  kOpen,          ///< the input could not be opened, or the output opened for writing
  kSize,          ///< the input is empty, or not a whole number of blocks (of the layout)
  kRead,          ///< a read failed, or the input ended before its size
  kWrite,         ///< a write, or the flush of what was written, failed
  kAllocate,      ///< no buffer could be had
  kCreateStaged,  ///< the staged file beside the file to replace could not be created
  kCopyMetadata,  ///< the staged file could not be given the owner, permissions or attributes
  kReplace,       ///< the staged file could not be put in the place of the file it replaces
};

enum class FileSide : uint8_t { kInput, kOutput };

/// Why a step failed.
enum class FileReason : uint8_t {
  kNone,           ///< nothing failed, or the step itself says it all (kArguments, kSize)
  kSystem,         ///< a call to the system failed; `code` is the system's own code for why
  kShortTransfer,  ///< a read or write moved fewer bytes than asked without any call failing
  kNoMemory,       ///< no buffer could be had
  kManyNames,      ///< a file to replace has more than one name (hard links): replacing would split
  kChanged,        ///< the file changed, or its name moved to another file, while it was swapped
  kIsInput,        ///< the output is the very stream being read, which writing it would destroy
  kUnfollowedLink,  ///< the path leads through a link the system would not follow for this process
  kAppendOnlyFolder,      ///< a file to swap in place is in an append-only folder, where none is
                          ///< replaced
  kMounted,               ///< a file to swap in place is mounted on another name too (a bind mount)
  kOthersInSharedFolder,  ///< an existing output is another user's, in a sticky shared folder
  kHeld,  ///< a file to swap in place is open for writing, or locked, by another process already
  /// A file to swap in place is open for writing as this program's own standard input or output
  /// (`code`: the descriptor, 0 or 1).
  kHeldAsStandardStream,
  kClosed,  ///< a standard stream was closed when the program started
  /// A writer came during the replacement and the file it opened could not be put back (`code`: the
  /// errno): the old contents are kept beside the file, under the staged file's name.
  kNotPutBack,
  /// The file is swapped, but its folder could not be flushed (`code`: the errno), so that the
  /// swap may not survive a power cut.
  kNotFlushed,
  kNotReplaceable,  ///< a file to swap in place that no name leads to, or whose size its system
                    ///< does not tell (a file under /proc): nothing could take its place
  kLengthNeeded,  ///< a stream, whose length is known only at its end, for a layout with groups
                  ///< after the one that fills
};

struct [[nodiscard]] FileError {
  FileStep step = FileStep::kNone;
  FileSide side = FileSide::kInput;
  FileReason reason = FileReason::kNone;
  int code = 0;  ///< the system's code, for kSystem

  bool Failed() const { return step != FileStep::kNone; }
};

inline FileError Failure(FileStep step, FileSide side, FileReason reason = FileReason::kNone,
                         int code = 0) {
  return FileError{step, side, reason, code};
}

/// No memory could be had for what `side` needed (a buffer, an output), on every platform alike.
inline FileError OutOfMemory(FileSide side) {
  return Failure(FileStep::kAllocate, side, FileReason::kNoMemory);
}
