// What the POSIX file layer saw when one of its operations failed. The swap reports only success or
// failure; the native command line reads this afterwards to say in one line why, naming the file
// and the system's reason, without the swap routine carrying any reason of its own.
#pragma once

/// The step of the file layer that failed.
enum class FileStep {
  kNone,        ///< nothing has failed
  kOpen,        ///< opening an existing file for reading (a folder counts as a failed open)
  kCreate,      ///< creating or truncating a file, or opening one for writing in place
  kRead,        ///< reading, or a file that ended before the size it had reported
  kWrite,       ///< writing, or flushing what was written to the disk
  kAllocate,    ///< taking a buffer
  kCreateCopy,  ///< creating the new file that a swap in place writes beside the old one
  kManyNames,   ///< a file to swap in place has more than one name (hard links)
  kReplace,     ///< putting that new file in the old one's place
};

struct FileFailure {
  FileStep step;
  /// The path that an open or create was given, as the caller's string (valid while it is); null
  /// for the steps on an open file, which the caller knows as its input or output.
  const char* path;
  /// `errno` as the failing call left it; 0 where no call failed but a read or write came up short.
  int error;
};

/// The last failure of the POSIX file layer in this process; its step is kNone when none failed.
FileFailure LastFileFailure();
