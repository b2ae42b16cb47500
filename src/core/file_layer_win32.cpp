// The file layer on Win32: the narrow-character kernel32 calls, one ReadFile and one WriteFile for
// the whole size, the buffer from the runtime library's heap. A file too large for that is swapped
// in pieces of a few MiB. A file swapped in place is replaced by moving a new file over it, which
// is given the old one's attributes and access control list first.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "file_layer.h"

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE AsHandle(FileLayer::Handle file) { return reinterpret_cast<HANDLE>(file); }

FileLayer::Handle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? FileLayer::kNoFile
                                        : reinterpret_cast<FileLayer::Handle>(handle);
}

// Attributes a user set that a new file can be created with; a read-only file is refused before.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// How many names a replacement tries before giving up: each one taken is most likely left by a
// swap that was killed.
constexpr DWORD kReplacementAttempts = 64;

// The file a path names, seen through a handle without access rights, which conflicts with no
// other opener's sharing.
bool GetNamedFileInformation(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE named =
      CreateFileA(path, 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  const bool got = GetFileInformationByHandle(named, info) != 0;
  CloseHandle(named);
  return got;
}

// Writes "orvane-PPPPPPPPAAAA.tmp", NUL-terminated, from this process's id and the attempt.
void WriteReplacementName(char* name, DWORD attempt) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned long long tag =
      (static_cast<unsigned long long>(GetCurrentProcessId()) << 16) | (attempt & 0xFFFF);
  memcpy(name, "orvane-", 7);
  for (int digit = 0; digit < 12; ++digit) name[7 + digit] = kHex[(tag >> (44 - 4 * digit)) & 15];
  memcpy(name + 19, ".tmp", 5);
}
constexpr size_t kReplacementNameBytes = 24;

// A path that only just fits in the MAX_PATH bytes the narrow calls take leaves no room for the
// new file's name beside it: then its folder (`length` bytes of `folder`, ending in a separator) is
// named by its short form, where the file system has one. Returns the folder's length now.
size_t ShortenFolder(char* folder, size_t length) {
  if (length == 0 || length + kReplacementNameBytes <= MAX_PATH) return length;
  char shortFolder[MAX_PATH];
  const DWORD shortLength = GetShortPathNameA(folder, shortFolder, sizeof shortFolder);
  if (shortLength == 0 || shortLength >= sizeof shortFolder || shortLength >= length) return length;
  memcpy(folder, shortFolder, shortLength + 1);
  return shortLength;
}

// A kernel32 or advapi32 function that Windows XP lacks, or that the program does not import (it
// imports from four system DLLs only), looked up when it is needed; null where there is none.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The path of the file open as `file` with every link resolved, through GetFinalPathNameByHandleA
// (Windows Vista and later), without its "\\?\" prefix. False where the system cannot tell it.
bool GetFinalPath(HANDLE file, char* path, size_t room) {
  using GetFinalPathName = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto getFinalPath = SystemFunction<GetFinalPathName>(GetModuleHandleA("kernel32.dll"),
                                                             "GetFinalPathNameByHandleA");
  char full[FileLayer::kLongestPath];
  const DWORD length = getFinalPath ? getFinalPath(file, full, sizeof full, 0) : 0;
  if (length == 0 || length >= sizeof full) return false;
  const char* start = full;
  char unc[FileLayer::kLongestPath];
  if (strncmp(full, "\\\\?\\UNC\\", 8) == 0) {
    unc[0] = '\\';
    memcpy(unc + 1, full + 7, length - 6);
    start = unc;
  } else if (strncmp(full, "\\\\?\\", 4) == 0) {
    start = full + 4;
  }
  if (strlen(start) >= room) return false;
  memcpy(path, start, strlen(start) + 1);
  return true;
}

// The access control list of the file open as `file` (with READ_CONTROL), as a self-relative
// security descriptor for the new file's creation, through advapi32 loaded for the call. Fails with
// the system's reason where it cannot be read; `*descriptor` is then null. Free it with free().
DWORD ReadAccessControl(HANDLE file, void** descriptor) {
  *descriptor = nullptr;
  const HMODULE advapi = LoadLibraryA("advapi32.dll");
  using GetSecurity =
      BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  const auto getSecurity = SystemFunction<GetSecurity>(advapi, "GetKernelObjectSecurity");
  DWORD error = getSecurity ? NO_ERROR : ERROR_PROC_NOT_FOUND;
  DWORD needed = 0;
  if (getSecurity && !getSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &needed))
    error = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? NO_ERROR : GetLastError();
  if (error == NO_ERROR) {
    *descriptor = malloc(needed);
    if (!*descriptor) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    } else if (!getSecurity(file, DACL_SECURITY_INFORMATION, *descriptor, needed, &needed)) {
      error = GetLastError();
      free(*descriptor);
      *descriptor = nullptr;
    }
  }
  if (advapi) FreeLibrary(advapi);
  return error;
}

FileLayer::Identity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileLayer::Identity identity;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  identity.modified =
      static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                           info.ftLastWriteTime.dwLowDateTime);
  identity.changed = info.dwFileAttributes;
  return identity;
}

bool IsSameIdentity(const FileLayer::Identity& a, const FileLayer::Identity& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size &&
         a.modified == b.modified && a.changed == b.changed;
}

DWORD Failure() {
  const DWORD error = GetLastError();
  return error != NO_ERROR ? error : ERROR_GEN_FAILURE;
}

class Win32FileLayer final : public FileLayer {
 public:
  Error OpenInput(const char* path, Handle* file) override {
    return Opened(
        CreateFileA(path, GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr), file);
  }

  Error CreateOutput(const char* path, Handle* file) override {
    return Opened(
        CreateFileA(path, GENERIC_WRITE, kShareReadWrite, nullptr, CREATE_ALWAYS, 0, nullptr),
        file);
  }

  bool IsSameFile(Handle file, const char* path) override {
    BY_HANDLE_FILE_INFORMATION openInfo;
    BY_HANDLE_FILE_INFORMATION namedInfo;
    return GetFileInformationByHandle(AsHandle(file), &openInfo) &&
           GetNamedFileInformation(path, &namedInfo) &&
           openInfo.dwVolumeSerialNumber == namedInfo.dwVolumeSerialNumber &&
           openInfo.nFileIndexHigh == namedInfo.nFileIndexHigh &&
           openInfo.nFileIndexLow == namedInfo.nFileIndexLow;
  }

  Error GetSize(Handle file, uint64_t* size) override {
    DWORD high = 0;
    const DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return Failure();
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return kOk;
  }

  Error ReadAll(Handle file, void* buffer, uint32_t size) override {
    DWORD read = 0;
    if (!ReadFile(AsHandle(file), buffer, size, &read, nullptr)) return Failure();
    return read == size ? kOk : kShortTransfer;
  }

  Error ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    auto* at = static_cast<char*>(buffer);
    DWORD read = 0;
    for (*got = 0; *got < size; *got += read) {
      if (!ReadFile(AsHandle(file), at + *got, size - *got, &read, nullptr)) return Failure();
      if (read == 0) break;
    }
    return kOk;
  }

  Error WriteAll(Handle file, const void* buffer, uint32_t size) override {
    DWORD written = 0;
    if (!WriteFile(AsHandle(file), buffer, size, &written, nullptr)) return Failure();
    return written == size ? kOk : kShortTransfer;
  }

  void Close(Handle file) override { CloseHandle(AsHandle(file)); }

  // The file's final path where the system tells it, so that a link stays a link and its target is
  // swapped; where it cannot tell it, a link is refused rather than replaced by a plain file. The
  // file is then held open, sharing deletion, to tell whether anyone writes it while it is swapped.
  Error FindForReplacement(Handle file, const char* path, uint64_t size,
                           Replacement* replacement) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(AsHandle(file), &info)) return Failure();
    replacement->identity = IdentityOf(info);
    if (replacement->identity.size != size) return kChanged;
    if (!GetFinalPath(AsHandle(file), replacement->name, sizeof replacement->name)) {
      if (strlen(path) >= sizeof replacement->name) return ERROR_FILENAME_EXCED_RANGE;
      memcpy(replacement->name, path, strlen(path) + 1);
    }
    const HANDLE named = CreateFileA(replacement->name, GENERIC_READ | GENERIC_WRITE,
                                     kShareReadWrite | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) return Failure();
    replacement->original = FromHandle(named);
    BY_HANDLE_FILE_INFORMATION namedInfo;
    if (!GetFileInformationByHandle(named, &namedInfo)) return Failure();
    if (namedInfo.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_NOT_SUPPORTED;
    if (!IsSameIdentity(IdentityOf(namedInfo), replacement->identity)) return kChanged;
    return info.nNumberOfLinks != 1 ? kManyNames : kOk;
  }

  // In the file's own folder: everything up to its last separator or drive colon. The access
  // control list is the old file's from the start, so that no data is ever written under what the
  // folder alone would give; one that cannot be read fails the swap.
  Error CreateReplacement(Replacement* replacement) override {
    const char* path = replacement->name;
    size_t folder = 0;
    for (size_t at = 0; path[at] != '\0'; ++at) {
      if (path[at] == '\\' || path[at] == '/' || path[at] == ':') folder = at + 1;
    }
    char* newPath = replacement->newName;
    memcpy(newPath, path, folder);
    newPath[folder] = '\0';
    folder = ShortenFolder(newPath, folder);
    void* descriptor = nullptr;
    if (const DWORD error = ReadAccessControl(AsHandle(replacement->original), &descriptor))
      return static_cast<Error>(error);
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error =
        GetFileInformationByHandle(AsHandle(replacement->original), &info) ? NO_ERROR : Failure();
    for (DWORD attempt = 0; error == NO_ERROR && attempt < kReplacementAttempts; ++attempt) {
      WriteReplacementName(newPath + folder, attempt);
      const HANDLE file = CreateFileA(newPath, GENERIC_WRITE, 0, &security, CREATE_NEW,
                                      info.dwFileAttributes & kKeptAttributes, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        replacement->file = FromHandle(file);
        break;
      }
      error = Failure();
      if (error == ERROR_FILE_EXISTS) error = NO_ERROR;
    }
    free(descriptor);
    if (replacement->file == kNoFile) {
      newPath[0] = '\0';
      return static_cast<Error>(error != NO_ERROR ? error : ERROR_FILE_EXISTS);
    }
    return kOk;
  }

  // Outputs are written directly: the whole file read first, then the output created and written
  // with one call, so that a failed read leaves it untouched.
  bool ReplacesOutputs() override { return false; }
  Error FindForOutput(const char*, Replacement*) override { return ERROR_NOT_SUPPORTED; }

  // Attributes and access control list were given at creation; the owner is the user who swaps.
  Error KeepIdentity(Handle, Replacement*) override { return kOk; }

  Error Flush(Handle file) override { return FlushFileBuffers(AsHandle(file)) ? kOk : Failure(); }

  // MoveFileExA replaces in one step; ReplaceFileA, which would carry the security over itself,
  // renames the old file away first under Wine, leaving the path empty for a moment. A file that
  // is open cannot be replaced: the held handle is closed once it has shown the file unchanged.
  Error Replace(Replacement* replacement) override {
    CloseHandle(AsHandle(replacement->file));
    replacement->file = kNoFile;
    BY_HANDLE_FILE_INFORMATION info;
    const bool unchanged = GetFileInformationByHandle(AsHandle(replacement->original), &info) &&
                           IsSameIdentity(IdentityOf(info), replacement->identity);
    CloseHandle(AsHandle(replacement->original));
    replacement->original = kNoFile;
    if (!unchanged) return kChanged;
    if (!MoveFileExA(replacement->newName, replacement->name,
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return Failure();
    replacement->newName[0] = '\0';
    return kOk;
  }

  void Abandon(Replacement* replacement) override {
    if (replacement->file != kNoFile) CloseHandle(AsHandle(replacement->file));
    if (replacement->original != kNoFile) CloseHandle(AsHandle(replacement->original));
    if (replacement->newName[0] != '\0') DeleteFileA(replacement->newName);
    replacement->file = kNoFile;
    replacement->original = kNoFile;
    replacement->newName[0] = '\0';
  }

  void* AllocateBuffer(size_t size) override { return malloc(size); }

  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }

  uint64_t LargestWholeFile() override { return UINT32_MAX; }
  uint32_t WholeReadPieceBytes() override { return UINT32_MAX; }
  uint32_t StreamPieceBytes() override { return uint32_t{4} << 20; }

 private:
  static Error Opened(HANDLE handle, Handle* file) {
    if (handle == INVALID_HANDLE_VALUE) return Failure();
    *file = FromHandle(handle);
    return kOk;
  }
};

Win32FileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
