// What the native program needs of its file layer besides files: its standard streams, and what
// kind of thing an open input or output is, for the refusals it explains (a terminal, a pipe, the
// input itself). The Windows program has none of them.
#pragma once

#include "file_layer.h"

enum class StreamType { kRegular, kPipe, kTerminal, kClosed, kOther };

/// Gives each closed standard descriptor /dev/null, so that no file the program opens can take its
/// number and be read or written as if it were that stream. Returns which were closed, one bit per
/// descriptor (1 standard input, 2 standard output, 4 standard error).
unsigned FillClosedStandardStreams();

/// What the open descriptor is.
StreamType TypeOf(InputFile::Handle file);
/// Whether both are the same regular file.
bool IsSameRegularFile(InputFile::Handle a, InputFile::Handle b);
/// Whether `writer` is open for writing on the same regular file as `file`.
bool IsWriterOf(InputFile::Handle writer, InputFile::Handle file);

/// A named pipe the layer opened without waiting for a writer (so that one named as the output too
/// is refused at once), opened again through its descriptor, the same pipe rather than the path
/// looked up again, to wait for one, as a reader of a pipe expects. Opening the output does this;
/// an input written to standard output needs it done here.
void WaitForWriter(InputFile& input);

/// Standard input, read as a stream (a regular file's size known, and checked before any output is
/// touched); it stays open when the input goes.
FileError OpenStandardInput(InputFile* input);
/// Standard output, written directly; it stays open when the output goes.
OwnedOutput StandardOutput();
