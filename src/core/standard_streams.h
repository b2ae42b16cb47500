// What the native program needs of its file layer besides paths: its standard streams, as values
// the layer opens as it opens a path's, and what kind of thing an open input is, for the refusals
// it explains (a terminal, a pipe). The Windows program has none of them: there "-" is a file name.
#pragma once

#include "file_layer.h"

enum class StreamType { kRegular, kPipe, kTerminal, kClosed, kOther };

/// Gives each closed standard descriptor /dev/null, so that no file the program opens can take its
/// number and be read or written as if it were that stream, and remembers that it was closed.
void FillClosedStandardStreams();

/// Standard input (FileSide::kInput) or output, as the value that OpenInput or OpenOutput opens as
/// that stream, with what it is as its target (a terminal told apart); one closed when the program
/// started has the error kClosed. Null only where no memory could be had.
OwnedPath StandardStream(FileSide side);

/// What the open descriptor is.
StreamType TypeOf(InputFile::Handle file);
