// A swap in place on Win32. The staged file is created in the file's own folder with the file's
// attributes and access control list from the start, so that no data is ever written under what the
// folder alone would give; it is flushed, and moved over the file in one step once the file is seen
// unchanged. MoveFileExA replaces in one step; ReplaceFileA, which would carry the security over
// itself, renames the old file away first under Wine, leaving the path empty for a moment.
#include <cstring>

#include "outputs.h"

namespace {

// Attributes a user set that a new file can be created with; a read-only file is refused before.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// How many names a staged file tries before giving up: each one taken is most likely left by a
// swap that was killed.
constexpr DWORD kStagedAttempts = 64;

// The room a path may take.
constexpr size_t kLongestPath = 4096 + 64;

// "orvane-PPPPPPPPAAAA.tmp", NUL included, from this process's id and the attempt.
constexpr size_t kStagedNameBytes = 24;
void WriteStagedName(char* name, DWORD attempt) {
  static const char kHex[] = "0123456789abcdef";
  const unsigned long long tag =
      (static_cast<unsigned long long>(GetCurrentProcessId()) << 16) | (attempt & 0xFFFF);
  memcpy(name, "orvane-", 7);
  for (int digit = 0; digit < 12; ++digit) name[7 + digit] = kHex[(tag >> (44 - 4 * digit)) & 15];
  memcpy(name + 19, ".tmp", 5);
}

// A path that only just fits in the MAX_PATH bytes the narrow calls take leaves no room for the
// staged file's name beside it: then its folder (`length` bytes of `folder`, ending in a separator)
// is named by its short form, where the file system has one. Returns the folder's length now.
size_t ShortenFolder(char* folder, size_t length) {
  if (length == 0 || length + kStagedNameBytes <= MAX_PATH) return length;
  char shortFolder[MAX_PATH];
  const DWORD shortLength = GetShortPathNameA(folder, shortFolder, sizeof shortFolder);
  if (shortLength == 0 || shortLength >= sizeof shortFolder || shortLength >= length) return length;
  memcpy(folder, shortFolder, shortLength + 1);
  return shortLength;
}

// The path of the file open as `file` with every link resolved, through GetFinalPathNameByHandleA
// (Windows Vista and later), without its "\\?\" prefix. False where the system cannot tell it.
bool GetFinalPath(HANDLE file, char* path, size_t room) {
  using GetFinalPathName = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
  const auto getFinalPath = SystemFunction<GetFinalPathName>(GetModuleHandleA("kernel32.dll"),
                                                             "GetFinalPathNameByHandleA");
  char full[kLongestPath];
  const DWORD length = getFinalPath ? getFinalPath(file, full, sizeof full, 0) : 0;
  if (length == 0 || length >= sizeof full) return false;
  char* start = full;
  if (strncmp(full, "\\\\?\\UNC\\", 8) == 0) {
    start = full + 6;  // "\\?\UNC\server\share" is "\\server\share"
    *start = '\\';
  } else if (strncmp(full, "\\\\?\\", 4) == 0) {
    start = full + 4;
  }
  const size_t bytes = strlen(start) + 1;
  if (bytes > room) return false;
  memcpy(path, start, bytes);
  return true;
}

// The access control list of the file open as `file` (with READ_CONTROL), as a self-relative
// security descriptor in `descriptor`, through advapi32 loaded for the call.
DWORD ReadAccessControl(HANDLE file, HeapMemory* descriptor) {
  const LoadedLibrary advapi(LoadLibraryA("advapi32.dll"), FreeLibrary);
  using GetSecurity =
      BOOL(WINAPI*)(HANDLE, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
  const auto getSecurity = SystemFunction<GetSecurity>(advapi.get(), "GetKernelObjectSecurity");
  if (!getSecurity) return ERROR_PROC_NOT_FOUND;
  DWORD needed = 0;
  if (!getSecurity(file, DACL_SECURITY_INFORMATION, nullptr, 0, &needed) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return LastError();
  descriptor->reset(malloc(needed));
  if (!*descriptor) return ERROR_NOT_ENOUGH_MEMORY;
  if (!getSecurity(file, DACL_SECURITY_INFORMATION, descriptor->get(), needed, &needed))
    return LastError();
  return NO_ERROR;
}

/// What is known of a file when its swap began, to tell whether anyone changed it since.
struct Fingerprint {
  DWORD volume, indexHigh, indexLow, sizeHigh, sizeLow, attributes;
  FILETIME modified;
};

Fingerprint FingerprintOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, info.nFileIndexHigh,   info.nFileIndexLow,  info.nFileSizeHigh,
          info.nFileSizeLow,         info.dwFileAttributes, info.ftLastWriteTime};
}

bool IsSame(const Fingerprint& a, const Fingerprint& b) {
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow &&
         a.sizeHigh == b.sizeHigh && a.sizeLow == b.sizeLow && a.attributes == b.attributes &&
         a.modified.dwLowDateTime == b.modified.dwLowDateTime &&
         a.modified.dwHighDateTime == b.modified.dwHighDateTime;
}

class InPlaceOutput final : public OutputFile {
 public:
  explicit InPlaceOutput(InputFile& input) : input_(input) { path_[0] = staged_[0] = '\0'; }
  ~InPlaceOutput() override {
    file_.Reset();
    if (staged_[0] != '\0') DeleteFileA(staged_);
  }

  FileError Write(const void* data, uint32_t size) override {
    return WriteWhole(file_.Get(), data, size);
  }
  FileError Commit() override;
  /// Holds the file `path` names, the input, and creates its staged file; or says why it could not.
  FileError Open(const char* path);

 private:
  FileError CreateStaged(const BY_HANDLE_FILE_INFORMATION& info);

  InputFile& input_;
  char path_[kLongestPath];    ///< the file's final path
  char staged_[kLongestPath];  ///< the staged file's path, while there is one
  OwnedHandle named_;          ///< the file, held open sharing deletion
  OwnedHandle file_;           ///< the staged file
  Fingerprint fingerprint_;
};

// The file's final path where the system tells it, so that a link stays a link and its target is
// swapped; where it cannot tell it, a link is refused rather than replaced by a plain file.
FileError InPlaceOutput::Open(const char* path) {
  const HANDLE input = reinterpret_cast<HANDLE>(input_.Get());
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(input, &info))
    return SystemFailure(FileStep::kOpen, FileSide::kOutput, LastError());
  fingerprint_ = FingerprintOf(info);
  const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size != input_.Size())
    return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kChanged);
  if (!GetFinalPath(input, path_, sizeof path_)) {
    if (strlen(path) >= sizeof path_)
      return SystemFailure(FileStep::kOpen, FileSide::kOutput, ERROR_FILENAME_EXCED_RANGE);
    memcpy(path_, path, strlen(path) + 1);
  }
  named_.Reset(CreateFileA(path_, GENERIC_READ | GENERIC_WRITE, kShareReadWrite | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION named;
  if (!named_ || !GetFileInformationByHandle(named_.Get(), &named))
    return SystemFailure(FileStep::kOpen, FileSide::kOutput, LastError());
  if (named.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return SystemFailure(FileStep::kOpen, FileSide::kOutput, ERROR_NOT_SUPPORTED);
  if (!IsSame(FingerprintOf(named), fingerprint_))
    return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kChanged);
  if (info.nNumberOfLinks != 1)
    return Failure(FileStep::kOpen, FileSide::kOutput, FileReason::kManyNames);
  return CreateStaged(named);
}

// In the file's own folder: everything up to its last separator or drive colon.
FileError InPlaceOutput::CreateStaged(const BY_HANDLE_FILE_INFORMATION& info) {
  size_t folder = 0;
  for (size_t at = 0; path_[at] != '\0'; ++at) {
    if (path_[at] == '\\' || path_[at] == '/' || path_[at] == ':') folder = at + 1;
  }
  char staged[kLongestPath];
  memcpy(staged, path_, folder);
  staged[folder] = '\0';
  folder = ShortenFolder(staged, folder);
  HeapMemory descriptor(nullptr, free);
  DWORD error = ReadAccessControl(named_.Get(), &descriptor);
  SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
  for (DWORD attempt = 0; error == NO_ERROR && attempt < kStagedAttempts; ++attempt) {
    WriteStagedName(staged + folder, attempt);
    file_.Reset(CreateFileA(staged, GENERIC_WRITE, 0, &security, CREATE_NEW,
                            info.dwFileAttributes & kKeptAttributes, nullptr));
    if (file_) {
      memcpy(staged_, staged, strlen(staged) + 1);
      return FileError{};
    }
    error = LastError();
    if (error == ERROR_FILE_EXISTS) error = NO_ERROR;
  }
  return SystemFailure(FileStep::kCreateStaged, FileSide::kOutput,
                       error != NO_ERROR ? error : ERROR_FILE_EXISTS);
}

// A file that is open cannot be replaced: the held handle and the input are closed once the file
// is seen unchanged. The owner is the user who swaps.
FileError InPlaceOutput::Commit() {
  if (!FlushFileBuffers(file_.Get()))
    return SystemFailure(FileStep::kWrite, FileSide::kOutput, LastError());
  file_.Reset();
  BY_HANDLE_FILE_INFORMATION info;
  const bool unchanged =
      GetFileInformationByHandle(named_.Get(), &info) && IsSame(FingerprintOf(info), fingerprint_);
  named_.Reset();
  input_.Close();
  if (!unchanged) return Failure(FileStep::kReplace, FileSide::kOutput, FileReason::kChanged);
  if (!MoveFileExA(staged_, path_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return SystemFailure(FileStep::kReplace, FileSide::kOutput, LastError());
  staged_[0] = '\0';
  return FileError{};
}

}  // namespace

FileError OpenInPlaceOutput(InputFile& input, const char* path, OwnedOutput* output) {
  OwnedOutput made = MakeOutput<InPlaceOutput>(input);
  if (!made) return OutOfMemory(FileSide::kOutput);
  const FileError error = static_cast<InPlaceOutput&>(*made).Open(path);
  if (!error.Failed()) *output = std::move(made);
  return error;
}
