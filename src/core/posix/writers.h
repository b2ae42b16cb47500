// Other processes that write a file swapped in place: a second swap locked out, and a writer that
// comes during the swap watched for, so that its writes are never lost.
#pragma once

#include <signal.h>

#include "descriptor.h"

/// Holds the file swapped in place, open as `input`, through a descriptor of its own (`held`) that
/// outlives the input's: locked, so that a second swap of it at the same time fails rather than
/// both replacing it and one swap being lost. kHeld when another process holds a lock on it.
FileError LockAgainstOtherSwaps(int input, Descriptor* held);

/// Asks the system to tell, through `held`, of any process that opens the file for writing from
/// now on (a read lease; its signal, SIGIO, is ignored while the lease is held, its action before
/// kept in `signalBefore`, and the lease's state is asked for instead). Where leases cannot be had
/// (another owner's file, a file system without them) the swap goes on with its other checks,
/// unwatched; where the file is open for writing already, the writer could be lost, and the swap
/// is refused (kHeld).
FileError WatchForWriters(int held, bool* watched, struct sigaction* signalBefore);

/// Gives up the watch on the file `held` holds, closing it, and puts SIGIO back as it was.
void StopWatching(Descriptor* held, const struct sigaction& signalBefore);

/// Whether a process opened the watched file for writing since it was watched: it is then waiting
/// for the lease to be given up, and its writes must not land on a file that has lost its name.
bool HasWriterCome(int held, bool watched);
