// The rules by which the POSIX file layer keeps a swap from being turned against its user by other
// users and processes, each a small check or hold of its own.
#pragma once

#include <sys/stat.h>

#include "file_layer.h"

/// Whether `signal`, left to its default action, ends the program and may be caught: every one but
/// those that stop, continue or are ignored by default, and the two that cannot be caught.
bool EndsProgramByDefault(int signal);

/// Whether the kernel would follow `link`, found in `folder`, for this process, as it rules for the
/// links it follows itself: in a sticky folder that everyone may write (/tmp), only a link of this
/// process's user or of the folder's owner, lest another user's link turn a write to a file of
/// theirs into a write anywhere this process may write.
bool WouldSystemFollow(int folder, const struct stat& link);

/// Whether `folder` is append-only (chattr +a): a file can be created in it, but never renamed or
/// removed, so that a new file written beside another could neither take its place nor go away.
/// A folder open for lookups only cannot be asked, and counts as not.
bool IsAppendOnly(int folder);

/// Whether the file `info` describes is mounted on any name of this process's mounts (a bind mount
/// of a file, the only way a file is a mount point): a name that would keep showing the old file
/// once it is replaced. Only mounts of the file's own device are looked at.
bool IsMountedSomewhere(const struct stat& info);

/// Whether `reached` is a file that no folder names any longer, reached only through a process's
/// open descriptor (/proc/self/fd/N): the link there reads as its old name and " (deleted)", which
/// names no file, and nothing could be put in its place.
bool IsNameless(const struct stat& reached);

/// Holds the file swapped in place, open as `input`, through a descriptor of its own that outlives
/// the input's: locked, so that a second swap of it at the same time fails rather than both
/// replacing it and one swap being lost. Returns kChanged when another swap holds it.
FileLayer::Error LockAgainstOtherSwaps(int input, FileLayer::Replacement* replacement);

/// Asks the system to tell of any process that opens the locked file for writing from now on (a
/// read lease; its signal is ignored, the lease's state is asked for instead). Where leases cannot
/// be had (another owner's file, a file system without them) the swap goes on with its other
/// checks; where the file is open for writing already, the writer could be lost, and the swap is
/// refused.
FileLayer::Error WatchForWriters(FileLayer::Replacement* replacement);

/// Whether a process opened the watched file for writing since it was watched: it is then waiting
/// for the lease to be given up, and its writes must not land on a file that has lost its name.
bool HasWriterCome(const FileLayer::Replacement& replacement);

/// Puts the new file in the old one's place. A watched file is exchanged with the new one, and put
/// back when a writer opened it meanwhile, whose writes then land on the named file once the lease
/// is given up; otherwise, or where the file system cannot exchange, renamed over.
FileLayer::Error PutInPlace(int folder, FileLayer::Replacement* replacement);

/// Every extended attribute of `from` given to `to`, but those a write clears: the access control
/// list among them, whose absence is given too (a folder's default list would otherwise be
/// inherited).
FileLayer::Error GiveAttributes(int from, int to);
/// Gives a new output, open as `output`, the access its input (open as `input`, described by
/// `info`) gives: its permission bits as a new file gets them, and its access control list.
FileLayer::Error GiveNewOutputAccess(int input, const struct stat& info, int output);
