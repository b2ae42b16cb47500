// Which output a resolved path gets: see output_policy.cpp.
#pragma once

#include "file_layer.h"
#include "folder.h"

/// Chooses the output that the resolved `path` names for `input` (see FileLayer::OpenOutput) and
/// opens it, taking what `path` holds.
FileError OpenPosixOutput(InputFile& input, PosixPath& path, OwnedOutput* output);
