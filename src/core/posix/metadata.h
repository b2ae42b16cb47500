// What a staged file takes from the file it replaces (its metadata: owner, group, permission bits,
// access control list, extended attributes), and the fingerprint that tells whether a file changed.
#pragma once

#include <sys/stat.h>

#include <cstdint>

/// What is known of a file when its swap began, to tell whether anyone changed it since.
struct Fingerprint {
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t size = 0;
  int64_t modified = 0;  ///< the last write, in nanoseconds
  int64_t changed = 0;   ///< the last change of its data or its metadata, in nanoseconds

  bool operator==(const Fingerprint& other) const;
};

Fingerprint FingerprintOf(const struct stat& info);

/// Gives `to` what the user set on `from`: owner and group first, whose change clears the set-id
/// bits, then the extended attributes (the access control list among them, whose absence is given
/// too; file capabilities not, which a write to the file would have cleared), then the permission
/// bits, set-id ones included, which must come out as they were. Where the owner cannot be given
/// (only a privileged process may give a file away) it fails rather than take the file from its
/// owner. 0 or the errno.
[[nodiscard]] int CopyMetadata(int from, int to);

/// Gives `to`, a file still empty (some flags take only on one), the file attribute flags of `from`
/// that its user may set (chattr: no-dump, no-atime, no-copy-on-write and the like); never
/// immutable or append-only, whose files are not replaced. Where the file system has no flags, none
/// are given. 0 or the errno.
[[nodiscard]] int GiveFlags(int from, int to);

/// Gives `to`, the staged file of an output that did not exist, no wider access than its input
/// `from` gives: the input's group where this user may give it (none to the group otherwise, which
/// a set-group-ID folder chose), its access control list (named users and groups, deny entries) or,
/// where it has none, none (not the folder's default one), and its permission bits as a new file
/// gets them, none that the input withholds. From a stream that is no regular file (a pipe, a
/// device), what a new file gets: `0666` less the umask. 0 or the errno.
[[nodiscard]] int GiveNewOutputAccess(int from, int to);
