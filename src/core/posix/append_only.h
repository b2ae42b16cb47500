// Folders that keep every file: nothing written beside a file there could be renamed or removed.
#pragma once

/// Whether `folder` is append-only (chattr +a): a file can be created in it, but never renamed or
/// removed, so that a staged file could neither take another's place nor go away. A folder open
/// for look-ups only cannot be asked, and counts as not.
bool IsAppendOnly(int folder);
