// The layer's side of the standard streams: opening the values that stand for them, and the waits
// and refusals a stream needs.
#pragma once

#include "file_layer.h"
#include "folder.h"

/// Standard input, read as a stream (a regular file's size known, and checked before any output
/// is touched); it stays open when the input goes.
FileError OpenStandardInput(const PosixPath& path, InputFile* input);
/// Standard output, written directly, for `input`: refused where it is the very file `input`
/// reads (kIsInput), as it would read back what it has just written; it stays open when the output
/// goes.
FileError OpenStandardOutput(InputFile& input, const PosixPath& path, OwnedOutput* output);

/// A named pipe the layer opened without waiting for a writer (so that one named as the output too
/// is refused at once), opened again through its descriptor, the same pipe rather than the path
/// looked up again, to wait for one, as a reader of a pipe expects, once its output is open.
void WaitForWriter(InputFile& input);

/// Which of this program's own standard input and output (0 or 1) is open for writing on the file
/// `input` reads, which holds it against a swap in place as another process's writer would; -1
/// where neither is.
int HolderAmongStandardStreams(const InputFile& input);

/// Whether `name` in the open `folder` is a link of this process's own descriptors (/proc/self/fd,
/// which /dev/stdout leads to) to a standard stream that was closed when the program started: the
/// /dev/null it was given in its place is not that stream.
bool IsClosedStandardStream(int folder, const std::string& name);
