// The file operations the swap needs, behind one small interface: a Win32 and a POSIX
// implementation serve the program, and tests can wrap either to make a fault happen that nothing
// real can produce (a short read, a short write, a failed flush or replace, a failed allocation) or
// to make a file count as large.
//
// Each operation that can fail returns an Error: kOk, the system's own code (errno on POSIX,
// GetLastError on Win32), or one of the layer's own negative reasons, so that what went wrong
// travels with the result instead of in a process-wide variable.
#pragma once

#include <cstddef>
#include <cstdint>

class FileLayer {
 public:
  /// An open file: a Win32 HANDLE or a POSIX descriptor, widened. kNoFile marks none.
  using Handle = intptr_t;
  static constexpr Handle kNoFile = -1;

  using Error = int;
  static constexpr Error kOk = 0;
  /// A read or write moved fewer bytes than asked without any call failing.
  static constexpr Error kShortTransfer = -1;
  /// A file to swap in place has more than one name (hard links): replacing it would split them.
  static constexpr Error kManyNames = -2;
  /// The file changed (was written, or its name now names another file) while it was swapped.
  static constexpr Error kChanged = -3;
  /// The path leads through a link that the system would not follow for this process: one in a
  /// sticky folder that everyone may write, owned by neither the process nor the folder's owner.
  /// This reason and those after it are refusals that the swap reports as they are.
  static constexpr Error kUnfollowedLink = -4;
  /// A file to swap in place is in an append-only folder, where no file may be replaced.
  static constexpr Error kAppendOnlyFolder = -5;
  /// A file to swap in place is mounted on another name (a bind mount): replacing it would split
  /// the two names.
  static constexpr Error kMounted = -6;

  /// Opens an existing file for reading, sharing reading and writing with other processes.
  /// A folder is not a file: opening one fails.
  virtual Error OpenInput(const char* path, Handle* file) = 0;
  /// Creates the file, or truncates an existing one, for writing, sharing reading and writing.
  virtual Error CreateOutput(const char* path, Handle* file) = 0;
  /// True when `path` names the very file open as `file` (the same volume and file index, or device
  /// and inode), whatever the spelling of the path or the links leading to it. False when `path`
  /// names no existing file.
  virtual bool IsSameFile(Handle file, const char* path) = 0;
  /// The file's size in bytes.
  virtual Error GetSize(Handle file, uint64_t* size) = 0;
  /// Reads exactly `size` bytes from the current position; kShortTransfer when the file ends first.
  virtual Error ReadAll(Handle file, void* buffer, uint32_t size) = 0;
  /// Reads until `size` bytes have come or the input has ended, whichever is first, and stores how
  /// many came in `*got`: a pipe delivers what its writer has written so far, so a single read may
  /// bring less with more to come. The end of the input is not a failure.
  virtual Error ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) = 0;
  /// Writes exactly `size` bytes at the current position.
  virtual Error WriteAll(Handle file, const void* buffer, uint32_t size) = 0;
  virtual void Close(Handle file) = 0;

  /// The room a path or a name in a Replacement may take.
  static constexpr size_t kLongestPath = 4096 + 64;
  /// What is known of the file when its swap began, to tell whether anyone changed it since.
  struct Identity {
    uint64_t volume = 0;
    uint64_t index = 0;
    uint64_t size = 0;
    int64_t modified = 0;  ///< the last write, in the platform's finest unit
    int64_t changed = 0;   ///< the last change of its data or its metadata, where kept
  };
  /// What a new file is written for: to replace the input itself, to become an output that does not
  /// exist yet, or to replace an existing output; or, where a new file is not to be written, the
  /// output to be written directly (a device, a pipe, a file with several names or of another
  /// owner).
  enum class Target { kInPlace, kNewOutput, kExistingOutput, kDirect };
  /// A new file being written to take the place of an existing one, or of none. The layer fills it
  /// in; the caller only writes to `file` through WriteAll.
  struct Replacement {
    Handle file = kNoFile;    ///< the new file, open for writing
    Handle folder = kNoFile;  ///< POSIX: the folder that holds both files, open
    /// The file to replace, held open (Win32; POSIX: an existing output, or the file swapped in
    /// place, locked against other swaps), or kNoFile
    Handle original = kNoFile;
    char name[kLongestPath];     ///< the file's name in `folder` (Win32: its full path)
    char newName[kLongestPath];  ///< the new file's name beside it, while there is one
    Identity identity;           ///< the file to replace when it was first found
    Target target = Target::kInPlace;
    /// Whether the new file and its rename are flushed to the disk (a swap in place), so that a
    /// power cut leaves the old or the new contents.
    bool durable = true;
    /// POSIX: whether the system tells, through `original`, of any process that opens the file to
    /// replace for writing (a read lease), so that a writer up to the replacement is not lost.
    bool watched = false;

    Replacement() { name[0] = newName[0] = '\0'; }
  };

  /// Finds the file that `path` names and that is open as `file`, `size` bytes long, for a swap in
  /// place: its folder (of its final target when `path` is a symbolic link), looked up once and
  /// held, and its identity. Fails with kChanged when the name no longer names that file or its
  /// size differs, kManyNames when it has several names, and with the system's reason when it
  /// cannot be opened for writing (a file its user may not write is not replaced either).
  virtual Error FindForReplacement(Handle file, const char* path, uint64_t size,
                                   Replacement* replacement) = 0;
  /// Whether a swap to another file writes a new file beside the output and renames it over the
  /// output at the end, so that no failure leaves a partial output, rather than writing the output.
  virtual bool ReplacesOutputs() = 0;
  /// Finds the folder of the output `path` (of its final target when `path` is a symbolic link),
  /// looked up once and held, and sets `target` to what is there: no file, a regular file this
  /// process may open for writing (held open as `original`, with its identity), or one to be
  /// written directly. Fails with the system's reason when the folder cannot be found, `path` names
  /// a folder, or the file there may not be written.
  virtual Error FindForOutput(const char* path, Replacement* replacement) = 0;
  /// Creates the new file in the held folder, exclusively, under a name no file has yet and a user
  /// recognises as Orvane's ("orvane-....tmp"), readable by nobody but its creator while it is
  /// written (on Win32: with the old file's access control list already).
  virtual Error CreateReplacement(Replacement* replacement) = 0;
  /// Gives the new file what the user set on the old one, open as `file`: owner, group, permission
  /// bits (set-id ones included, so after the last write), access control list and extended
  /// attributes, where the platform keeps them. Fails when anything that restricts access to the
  /// old file cannot be given. For an output that did not exist, `file` is the input: the new file
  /// gets the permission bits a new file gets, but none that the input withholds.
  virtual Error KeepIdentity(Handle file, Replacement* replacement) = 0;
  /// Writes what was written to `file` through to the disk.
  virtual Error Flush(Handle file) = 0;
  /// Checks that the old file is unchanged and still has its name, then puts the new file, closed,
  /// in its place in one step, within the held folder: the name names either the old file or the
  /// new one at every moment. The caller has closed its own handle of the old file, which a
  /// platform may not replace while it is open. On failure the new file is still there for Abandon
  /// to remove.
  virtual Error Replace(Replacement* replacement) = 0;
  /// Removes the new file, if any, and closes what the replacement holds.
  virtual void Abandon(Replacement* replacement) = 0;

  /// A buffer for the whole file (or one piece of it), or null when it cannot be had.
  virtual void* AllocateBuffer(size_t size) = 0;
  virtual void ReleaseBuffer(void* buffer, size_t size) = 0;

  /// The largest file read whole into one buffer; anything larger is swapped in pieces.
  virtual uint64_t LargestWholeFile() = 0;
  /// How many bytes each ReadAll call takes when a whole file is read: the whole file where the
  /// platform reads it with one call, a few MiB where each piece is swapped while still in cache.
  virtual uint32_t WholeReadPieceBytes() = 0;
  /// The size of each piece of a file too large for memory: a few MiB.
  virtual uint32_t StreamPieceBytes() = 0;

 protected:
  ~FileLayer() = default;
};

/// The platform's own file layer.
FileLayer& SystemFileLayer();
