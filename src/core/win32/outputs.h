// The outputs of the Win32 file layer: another file is created or truncated and written directly,
// as the program always wrote it; the input itself is written to a staged file beside it, which is
// moved over it once whole.
#pragma once

#include "file_layer.h"
#include "owners.h"

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

/// Writes exactly `size` bytes with one call, failing for kWrite on the output's side.
FileError WriteWhole(HANDLE file, const void* data, uint32_t size);

/// The output for a swap in place of `input`, whose path is `path`: the file held open, sharing
/// deletion, to tell whether anyone writes it while it is swapped, and the staged file created
/// beside it.
FileError OpenInPlaceOutput(InputFile& input, const char* path, OwnedOutput* output);
