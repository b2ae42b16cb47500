// A file system that can lose power, for the tests: it holds every file in memory and keeps, beside
// what the programs on it see, what a disk would hold after a power cut. A cut stores only that
// durable state in an image file, which the next mount starts from.
//
// The model is strict, on purpose (no heuristic of a real file system is modelled: those that, for
// one, write a file's data out when it is renamed over another would hide exactly the missing flush
// these tests exist to catch):
// - A file's contents and attributes (length, mode, owner, extended attributes, flags) are durable
// as
//   they were at its last fsync; fdatasync makes its contents durable, not its attributes. Whatever
//   was written or changed since is lost. A file never flushed is, after a cut, as it was created:
//   empty.
// - A name change (create, mkdir, rename, exchange, unlink) survives a cut only if its folder was
//   flushed (fsync on the folder) after it; the folder's names are then durable as they were.
// With --names-written-back a cut instead keeps every name and every file's attributes as they
// were, as if the system had written its names and attributes out on its own, but not the data: a
// file's bytes not flushed read as zeros. That is the worst a cut does to a file whose data was not
// flushed before its name reached the disk.
//
//   power_cut_fs IMAGE MOUNTPOINT [--cut-after=KIND:N] [--no-exchange] [--names-written-back]
//                [--keep-everything] [FUSE options]
// IMAGE is the disk: read at the mount (a missing one is an empty file system), written at the cut.
// The power is cut right after the Nth operation of KIND (create, write, fsync, rename, fsyncdir,
// unlink) has been done; from then on every operation fails with EIO, as on a device that is gone.
// Without --cut-after the unmount is the cut. --no-exchange refuses renameat2(RENAME_EXCHANGE) as
// file systems without it do; --keep-everything makes the unmount keep everything (to prepare an
// image). At exit it prints on standard error what it counted, and exits 3 if the cut it was asked
// for never came.
#define FUSE_USE_VERSION 35
#include <fuse.h>
#include <linux/fs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Node;
using NodePtr = std::shared_ptr<Node>;
using Names = std::map<std::string, NodePtr>;

// What the programs see of a file or folder, and what the disk holds of it.
struct State {
  std::string data;  // a file's contents
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  uint32_t flags = 0;
  timespec modified = {}, changed = {};
  std::map<std::string, std::string> attributes;
  Names names;  // a folder's entries
};

struct Node {
  uint64_t inode = 0;
  State live, durable;
  bool IsFolder() const { return S_ISDIR(live.mode); }
};

enum Kind { kCreate, kWrite, kFsync, kRename, kFsyncdir, kUnlink, kKinds };
const char* const kKindNames[kKinds] = {"create", "write", "fsync", "rename", "fsyncdir", "unlink"};

struct Disk {
  std::string image;
  NodePtr root;
  uint64_t nextInode = 1;
  std::map<uint64_t, NodePtr> open;  // by handle
  uint64_t nextHandle = 1;
  int cutKind = -1;
  long cutAt = 0;
  bool noExchange = false, namesWrittenBack = false, keepEverything = false;
  bool cut = false;
  long counts[kKinds] = {};
  long exchanges = 0;
} disk;

timespec Now() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return now;
}

// A node made by the caller of the operation being answered, or by root before the mount.
NodePtr NewNode(mode_t mode, bool mounted = true) {
  auto node = std::make_shared<Node>();
  node->inode = ++disk.nextInode;
  node->live.mode = mode;
  if (mounted) {
    node->live.uid = fuse_get_context()->uid;
    node->live.gid = fuse_get_context()->gid;
  }
  node->live.modified = node->live.changed = Now();
  node->durable = node->live;  // created, but empty until flushed
  return node;
}

// --- The image: the durable state, as a disk would hold it. ---

void Put(std::ostream& out, uint64_t value) { out.write(reinterpret_cast<char*>(&value), 8); }
void Put(std::ostream& out, const std::string& text) {
  Put(out, text.size());
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}
uint64_t GetNumber(std::istream& in) {
  uint64_t value = 0;
  in.read(reinterpret_cast<char*>(&value), 8);
  return value;
}
std::string GetText(std::istream& in) {
  std::string text(GetNumber(in), '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  return text;
}

// What a cut leaves of one node: its durable state, or with names and attributes written back its
// live one but for the data, of which only what was flushed is there and the rest reads as zeros.
State Survivor(const Node& node) {
  if (!disk.namesWrittenBack) return node.durable;
  State kept = node.live;
  kept.data = node.durable.data;
  kept.data.resize(node.live.data.size(), '\0');
  return kept;
}

void Save(std::ostream& out, const Node& node) {
  const State kept = Survivor(node);
  Put(out, node.inode);
  Put(out, kept.mode);
  Put(out, kept.uid);
  Put(out, kept.gid);
  Put(out, kept.flags);
  Put(out, static_cast<uint64_t>(kept.modified.tv_sec));
  Put(out, static_cast<uint64_t>(kept.modified.tv_nsec));
  Put(out, kept.attributes.size());
  for (const auto& [name, value] : kept.attributes) Put(out, name), Put(out, value);
  Put(out, kept.data);
  Put(out, kept.names.size());
  for (const auto& [name, child] : kept.names) Put(out, name), Save(out, *child);
}

NodePtr Load(std::istream& in) {
  auto node = std::make_shared<Node>();
  State& state = node->live;
  node->inode = GetNumber(in);
  disk.nextInode = std::max(disk.nextInode, node->inode);
  state.mode = static_cast<mode_t>(GetNumber(in));
  state.uid = static_cast<uid_t>(GetNumber(in));
  state.gid = static_cast<gid_t>(GetNumber(in));
  state.flags = static_cast<uint32_t>(GetNumber(in));
  state.modified.tv_sec = static_cast<time_t>(GetNumber(in));
  state.modified.tv_nsec = static_cast<long>(GetNumber(in));
  state.changed = state.modified;
  for (uint64_t count = GetNumber(in); count > 0 && in; --count) {
    std::string name = GetText(in);
    state.attributes[name] = GetText(in);
  }
  state.data = GetText(in);
  for (uint64_t count = GetNumber(in); count > 0 && in; --count) {
    std::string name = GetText(in);
    state.names[name] = Load(in);
  }
  node->durable = node->live;
  return node;
}

// Writes the image beside it and renames it into place: the test's own disk, not the one modelled.
bool SaveImage() {
  const std::string next = disk.image + ".next";
  {
    std::ofstream out(next, std::ios::binary | std::ios::trunc);
    Save(out, *disk.root);
    if (!out.flush()) return false;
  }
  return rename(next.c_str(), disk.image.c_str()) == 0;
}

void CutPower() {
  if (disk.cut) return;
  disk.cut = true;
  if (!SaveImage()) fprintf(stderr, "power_cut_fs: cannot write %s\n", disk.image.c_str());
}

// Every operation starts here: after a cut the device is gone.
int Gate() { return disk.cut ? -EIO : 0; }

// Counts an operation that was done, and cuts the power when it is the one asked for.
int Done(Kind kind) {
  ++disk.counts[kind];
  if (kind == disk.cutKind && disk.counts[kind] == disk.cutAt) CutPower();
  return 0;
}

// --- Looking names up in the live state. ---

NodePtr Find(const char* path) {
  if (path == nullptr) return nullptr;
  NodePtr node = disk.root;
  std::string rest = path;
  size_t at = 0;
  while (node && at < rest.size()) {
    const size_t start = rest.find_first_not_of('/', at);
    if (start == std::string::npos) break;
    const size_t end = std::min(rest.find('/', start), rest.size());
    if (!node->IsFolder()) return nullptr;
    const auto found = node->live.names.find(rest.substr(start, end - start));
    node = found == node->live.names.end() ? nullptr : found->second;
    at = end;
  }
  return node;
}

NodePtr NodeOf(const char* path, const fuse_file_info* info) {
  if (info != nullptr && info->fh != 0) {
    const auto found = disk.open.find(info->fh);
    if (found != disk.open.end()) return found->second;
  }
  return Find(path);
}

// The folder holding `path` and the last name in it.
NodePtr ParentOf(const char* path, std::string* name) {
  const std::string whole = path;
  const size_t slash = whole.rfind('/');
  *name = whole.substr(slash + 1);
  NodePtr parent = slash == 0 ? disk.root : Find(whole.substr(0, slash).c_str());
  return parent && parent->IsFolder() ? parent : nullptr;
}

void Touch(State& state) { state.modified = state.changed = Now(); }

// --- The operations. ---

int GetAttributes(const char* path, struct stat* info, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  *info = {};
  info->st_ino = node->inode;
  info->st_mode = node->live.mode;
  info->st_nlink = node->IsFolder() ? 2 : 1;
  info->st_uid = node->live.uid;
  info->st_gid = node->live.gid;
  info->st_size = static_cast<off_t>(node->live.data.size());
  info->st_blocks = static_cast<blkcnt_t>((node->live.data.size() + 511) / 512);
  info->st_blksize = 4096;
  info->st_mtim = info->st_atim = node->live.modified;
  info->st_ctim = node->live.changed;
  return 0;
}

int ReadFolder(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* file,
               fuse_readdir_flags) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node || !node->IsFolder()) return -ENOTDIR;
  fill(buffer, ".", nullptr, 0, {});
  fill(buffer, "..", nullptr, 0, {});
  for (const auto& [name, child] : node->live.names) fill(buffer, name.c_str(), nullptr, 0, {});
  return 0;
}

int Open(const char* path, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  if (file->flags & O_TRUNC) node->live.data.clear(), Touch(node->live);
  file->fh = disk.nextHandle++;
  disk.open[file->fh] = node;
  return 0;
}

int OpenFolder(const char* path, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  if (!node->IsFolder()) return -ENOTDIR;
  file->fh = disk.nextHandle++;
  disk.open[file->fh] = node;
  return 0;
}

int Release(const char*, fuse_file_info* file) {
  disk.open.erase(file->fh);
  return 0;
}

// A new name in a folder; a name change, durable once the folder is flushed.
int AddName(const char* path, const NodePtr& node) {
  std::string name;
  const NodePtr parent = ParentOf(path, &name);
  if (!parent) return -ENOENT;
  if (parent->live.names.count(name)) return -EEXIST;
  parent->live.names[name] = node;
  Touch(parent->live);
  return 0;
}

int Create(const char* path, mode_t mode, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NewNode(S_IFREG | (mode & 07777));
  if (const int error = AddName(path, node)) return error;
  file->fh = disk.nextHandle++;
  disk.open[file->fh] = node;
  return Done(kCreate);
}

int MakeFolder(const char* path, mode_t mode) {
  if (const int gone = Gate()) return gone;
  if (const int error = AddName(path, NewNode(S_IFDIR | (mode & 07777)))) return error;
  return Done(kCreate);
}

int Read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  const std::string& data = node->live.data;
  if (static_cast<size_t>(offset) >= data.size()) return 0;
  const size_t length = std::min(size, data.size() - static_cast<size_t>(offset));
  memcpy(buffer, data.data() + offset, length);
  return static_cast<int>(length);
}

int Write(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  std::string& data = node->live.data;
  if (data.size() < static_cast<size_t>(offset) + size) data.resize(offset + size, '\0');
  memcpy(data.data() + offset, buffer, size);
  Touch(node->live);
  Done(kWrite);
  return static_cast<int>(size);
}

int Truncate(const char* path, off_t size, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  node->live.data.resize(static_cast<size_t>(size), '\0');
  Touch(node->live);
  return 0;
}

int Allocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  if (mode != 0) return -EOPNOTSUPP;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  const size_t end = static_cast<size_t>(offset + length);
  if (node->live.data.size() < end) node->live.data.resize(end, '\0'), Touch(node->live);
  return 0;
}

int Fsync(const char* path, int dataOnly, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  if (dataOnly) {
    node->durable.data = node->live.data;
  } else {
    Names names = node->durable.names;  // a file's fsync is not its folder's
    node->durable = node->live;
    node->durable.names = std::move(names);
  }
  return Done(kFsync);
}

int FsyncFolder(const char* path, int, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  node->durable.names = node->live.names;
  return Done(kFsyncdir);
}

int RemoveName(const char* path, bool folder) {
  if (const int gone = Gate()) return gone;
  std::string name;
  const NodePtr parent = ParentOf(path, &name);
  const auto found = parent ? parent->live.names.find(name) : Names::iterator{};
  if (!parent || found == parent->live.names.end()) return -ENOENT;
  if (found->second->IsFolder() != folder) return folder ? -ENOTDIR : -EISDIR;
  if (folder && !found->second->live.names.empty()) return -ENOTEMPTY;
  parent->live.names.erase(found);
  Touch(parent->live);
  return Done(kUnlink);
}

int Unlink(const char* path) { return RemoveName(path, false); }
int RemoveFolder(const char* path) { return RemoveName(path, true); }

int Rename(const char* from, const char* to, unsigned int flags) {
  if (const int gone = Gate()) return gone;
  if (flags & ~(RENAME_EXCHANGE | RENAME_NOREPLACE)) return -EINVAL;
  if ((flags & RENAME_EXCHANGE) && disk.noExchange) return -EINVAL;
  std::string fromName, toName;
  const NodePtr fromFolder = ParentOf(from, &fromName), toFolder = ParentOf(to, &toName);
  if (!fromFolder || !toFolder || !fromFolder->live.names.count(fromName)) return -ENOENT;
  Names& source = fromFolder->live.names;
  Names& target = toFolder->live.names;
  const bool exists = target.count(toName) != 0;
  if (flags & RENAME_EXCHANGE) {
    if (!exists) return -ENOENT;
    std::swap(source[fromName], target[toName]);
    ++disk.exchanges;
  } else {
    if (exists && (flags & RENAME_NOREPLACE)) return -EEXIST;
    if (exists && target[toName]->IsFolder()) return -EISDIR;
    const NodePtr moved = source[fromName];
    source.erase(fromName);
    target[toName] = moved;
  }
  Touch(fromFolder->live);
  Touch(toFolder->live);
  return Done(kRename);
}

int ChangeMode(const char* path, mode_t mode, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  node->live.mode = (node->live.mode & S_IFMT) | (mode & 07777);
  node->live.changed = Now();
  return 0;
}

int ChangeOwner(const char* path, uid_t uid, gid_t gid, fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  if (uid != static_cast<uid_t>(-1)) node->live.uid = uid;
  if (gid != static_cast<gid_t>(-1)) node->live.gid = gid;
  node->live.changed = Now();
  return 0;
}

int SetTimes(const char* path, const timespec times[2], fuse_file_info* file) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  if (times == nullptr || times[1].tv_nsec == UTIME_NOW)
    node->live.modified = Now();
  else if (times[1].tv_nsec != UTIME_OMIT)
    node->live.modified = times[1];
  node->live.changed = Now();
  return 0;
}

int SetAttribute(const char* path, const char* name, const char* value, size_t size, int flags) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  auto& attributes = node->live.attributes;
  const bool exists = attributes.count(name) != 0;
  if ((flags & XATTR_CREATE) && exists) return -EEXIST;
  if ((flags & XATTR_REPLACE) && !exists) return -ENODATA;
  attributes[name].assign(value, size);
  node->live.changed = Now();
  return 0;
}

int GetAttribute(const char* path, const char* name, char* value, size_t size) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  const auto found = node->live.attributes.find(name);
  if (found == node->live.attributes.end()) return -ENODATA;
  if (size == 0) return static_cast<int>(found->second.size());
  if (size < found->second.size()) return -ERANGE;
  memcpy(value, found->second.data(), found->second.size());
  return static_cast<int>(found->second.size());
}

int ListAttributes(const char* path, char* list, size_t size) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  std::string names;
  for (const auto& [name, value] : node->live.attributes) names += name + '\0';
  if (size == 0) return static_cast<int>(names.size());
  if (size < names.size()) return -ERANGE;
  memcpy(list, names.data(), names.size());
  return static_cast<int>(names.size());
}

int RemoveAttribute(const char* path, const char* name) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = Find(path);
  if (!node) return -ENOENT;
  if (node->live.attributes.erase(name) == 0) return -ENODATA;
  node->live.changed = Now();
  return 0;
}

// The inode flags of chattr and lsattr.
int Control(const char* path, unsigned int command, void*, fuse_file_info* file, unsigned int,
            void* data) {
  if (const int gone = Gate()) return gone;
  const NodePtr node = NodeOf(path, file);
  if (!node) return -ENOENT;
  uint32_t* flags = static_cast<uint32_t*>(data);
  if (command == static_cast<unsigned int>(FS_IOC_GETFLAGS)) {
    *flags = node->live.flags;
  } else if (command == static_cast<unsigned int>(FS_IOC_FSGETXATTR)) {
    // The same flags in the other form, which the system reads before it sets them.
    static const uint32_t kForms[][2] = {{FS_SYNC_FL, FS_XFLAG_SYNC},
                                         {FS_IMMUTABLE_FL, FS_XFLAG_IMMUTABLE},
                                         {FS_APPEND_FL, FS_XFLAG_APPEND},
                                         {FS_NODUMP_FL, FS_XFLAG_NODUMP},
                                         {FS_NOATIME_FL, FS_XFLAG_NOATIME}};
    fsxattr* extended = static_cast<fsxattr*>(data);
    *extended = {};
    for (const auto& form : kForms) {
      if (node->live.flags & form[0]) extended->fsx_xflags |= form[1];
    }
  } else if (command == static_cast<unsigned int>(FS_IOC_SETFLAGS)) {
    node->live.flags = *flags;
    node->live.changed = Now();
  } else {
    return -ENOTTY;
  }
  return 0;
}

int Statistics(const char*, struct statvfs* info) {
  if (const int gone = Gate()) return gone;
  *info = {};
  info->f_bsize = info->f_frsize = 4096;
  info->f_blocks = info->f_bfree = info->f_bavail = 1 << 20;
  info->f_files = info->f_ffree = 1 << 20;
  info->f_namemax = 255;
  return 0;
}

void* Init(fuse_conn_info*, fuse_config* config) {
  config->use_ino = 1;      // the inode numbers of this file system, as a swap in place compares
  config->hard_remove = 1;  // no hidden files for removed ones still open
  config->nullpath_ok = 1;
  config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
  return nullptr;
}

void Destroy(void*) {
  if (disk.keepEverything && !disk.cut) {
    std::function<void(Node&)> flush = [&](Node& node) {
      node.durable = node.live;
      for (auto& [name, child] : node.live.names) flush(*child);
    };
    flush(*disk.root);
  }
  CutPower();
}

bool ParseCut(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  for (int kind = 0; kind < kKinds; ++kind) {
    if (text.compare(0, colon, kKindNames[kind]) == 0) disk.cutKind = kind;
  }
  disk.cutAt = strtol(text.c_str() + colon + 1, nullptr, 10);
  return disk.cutKind >= 0 && disk.cutAt > 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: power_cut_fs IMAGE MOUNTPOINT [--cut-after=KIND:N] [options]\n");
    return 2;
  }
  disk.image = argv[1];
  if (disk.image[0] != '/') {  // the mounted file system runs from the root folder
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr) return 2;
    disk.image = std::string(here) + "/" + disk.image;
  }
  std::vector<char*> fuseArguments = {argv[0], argv[2], const_cast<char*>("-f"),
                                      const_cast<char*>("-s")};
  for (int at = 3; at < argc; ++at) {
    const std::string argument = argv[at];
    if (argument.rfind("--cut-after=", 0) == 0) {
      if (!ParseCut(argument.substr(12))) {
        fprintf(stderr, "power_cut_fs: no such cut: %s\n", argv[at]);
        return 2;
      }
    } else if (argument == "--no-exchange") {
      disk.noExchange = true;
    } else if (argument == "--names-written-back") {
      disk.namesWrittenBack = true;
    } else if (argument == "--keep-everything") {
      disk.keepEverything = true;
    } else {
      fuseArguments.push_back(argv[at]);
    }
  }
  std::ifstream in(disk.image, std::ios::binary);
  if (in) {
    disk.root = Load(in);
    if (!in) {
      fprintf(stderr, "power_cut_fs: %s is not a whole image\n", disk.image.c_str());
      return 2;
    }
  } else {
    disk.root = NewNode(S_IFDIR | 0755, false);
  }
  static fuse_operations operations = {};
  operations.getattr = GetAttributes;
  operations.readdir = ReadFolder;
  operations.open = Open;
  operations.release = Release;
  operations.opendir = OpenFolder;
  operations.releasedir = Release;
  operations.create = Create;
  operations.mkdir = MakeFolder;
  operations.read = Read;
  operations.write = Write;
  operations.truncate = Truncate;
  operations.fallocate = Allocate;
  operations.fsync = Fsync;
  operations.fsyncdir = FsyncFolder;
  operations.unlink = Unlink;
  operations.rmdir = RemoveFolder;
  operations.rename = Rename;
  operations.chmod = ChangeMode;
  operations.chown = ChangeOwner;
  operations.utimens = SetTimes;
  operations.setxattr = SetAttribute;
  operations.getxattr = GetAttribute;
  operations.listxattr = ListAttributes;
  operations.removexattr = RemoveAttribute;
  operations.ioctl = Control;
  operations.statfs = Statistics;
  operations.init = Init;
  operations.destroy = Destroy;
  const int status =
      fuse_main(static_cast<int>(fuseArguments.size()), fuseArguments.data(), &operations, nullptr);
  fprintf(stderr, "power_cut_fs:");
  for (int kind = 0; kind < kKinds; ++kind)
    fprintf(stderr, " %s %ld", kKindNames[kind], disk.counts[kind]);
  fprintf(stderr, " (exchanges %ld)\n", disk.exchanges);
  if (status != 0) return status;
  if (disk.cutKind >= 0 && disk.counts[disk.cutKind] < disk.cutAt) {
    fprintf(stderr, "power_cut_fs: the cut after %s %ld never came\n", kKindNames[disk.cutKind],
            disk.cutAt);
    return 3;
  }
  return 0;
}
