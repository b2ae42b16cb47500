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

// The access control list of the file `from` given to the file `to`, through advapi32 loaded for
// the call (the program imports from four system DLLs only). Where it cannot be read or set (no
// such DLL, a file system without security), `to` keeps what its folder gives it.
void CopyAccessControl(const char* from, const char* to) {
  const HMODULE advapi = LoadLibraryA("advapi32.dll");
  if (!advapi) return;
  using GetSecurity =
      BOOL(WINAPI*)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  using SetSecurity = BOOL(WINAPI*)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
  const auto getSecurity = reinterpret_cast<GetSecurity>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "GetFileSecurityA")));
  const auto setSecurity = reinterpret_cast<SetSecurity>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "SetFileSecurityA")));
  DWORD needed = 0;
  if (getSecurity && setSecurity &&
      !getSecurity(from, DACL_SECURITY_INFORMATION, nullptr, 0, &needed) && needed != 0) {
    void* descriptor = malloc(needed);
    if (descriptor && getSecurity(from, DACL_SECURITY_INFORMATION, descriptor, needed, &needed))
      setSecurity(to, DACL_SECURITY_INFORMATION, descriptor);
    free(descriptor);
  }
  FreeLibrary(advapi);
}

class Win32FileLayer final : public FileLayer {
 public:
  Handle OpenInput(const char* path) override {
    return FromHandle(
        CreateFileA(path, GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
  }

  Handle CreateOutput(const char* path) override {
    return FromHandle(
        CreateFileA(path, GENERIC_WRITE, kShareReadWrite, nullptr, CREATE_ALWAYS, 0, nullptr));
  }

  Handle OpenInPlace(const char* path) override {
    return FromHandle(CreateFileA(path, GENERIC_READ | GENERIC_WRITE, kShareReadWrite, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
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

  bool GetSize(Handle file, uint64_t* size) override {
    DWORD high = 0;
    const DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }

  bool ReadAll(Handle file, void* buffer, uint32_t size) override {
    DWORD read = 0;
    return ReadFile(AsHandle(file), buffer, size, &read, nullptr) && read == size;
  }

  bool ReadUpTo(Handle file, void* buffer, uint32_t size, uint32_t* got) override {
    auto* at = static_cast<char*>(buffer);
    DWORD read = 0;
    for (*got = 0; *got < size; *got += read) {
      if (!ReadFile(AsHandle(file), at + *got, size - *got, &read, nullptr)) return false;
      if (read == 0) break;
    }
    return true;
  }

  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    DWORD written = 0;
    return WriteFile(AsHandle(file), buffer, size, &written, nullptr) && written == size;
  }

  void Close(Handle file) override { CloseHandle(AsHandle(file)); }

  // In the path's own folder: everything up to its last separator or drive colon.
  Handle CreateReplacement(const char* path, char* newPath) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetNamedFileInformation(path, &info) || info.nNumberOfLinks != 1) return kNoFile;
    size_t folder = 0;
    for (size_t at = 0; path[at] != '\0'; ++at) {
      if (path[at] == '\\' || path[at] == '/' || path[at] == ':') folder = at + 1;
    }
    if (folder + kReplacementNameBytes > kLongestPath) return kNoFile;
    memcpy(newPath, path, folder);
    newPath[folder] = '\0';
    folder = ShortenFolder(newPath, folder);
    for (DWORD attempt = 0; attempt < kReplacementAttempts; ++attempt) {
      WriteReplacementName(newPath + folder, attempt);
      const HANDLE file = CreateFileA(newPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      info.dwFileAttributes & kKeptAttributes, nullptr);
      if (file != INVALID_HANDLE_VALUE) return FromHandle(file);
      if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return kNoFile;
  }

  bool Flush(Handle file) override { return FlushFileBuffers(AsHandle(file)) != 0; }

  // MoveFileExA replaces in one step; ReplaceFileA, which would carry the security over itself,
  // renames the old file away first under Wine, leaving the path empty for a moment.
  bool Replace(const char* newPath, const char* path) override {
    CopyAccessControl(path, newPath);
    if (MoveFileExA(newPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileA(newPath);
    return false;
  }

  void Remove(const char* path) override { DeleteFileA(path); }

  void* AllocateBuffer(size_t size) override { return malloc(size); }

  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }

  uint64_t LargestWholeFile() override { return UINT32_MAX; }
  uint32_t WholeReadPieceBytes() override { return UINT32_MAX; }
  uint32_t StreamPieceBytes() override { return uint32_t{4} << 20; }
};

Win32FileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
