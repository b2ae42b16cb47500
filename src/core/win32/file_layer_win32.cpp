// The file layer on Win32: the narrow-character kernel32 calls, a file below 4 GiB read whole into
// one page-aligned buffer (by the swap, in parts it swaps as they come), the output created (or
// truncated) only then and written with one WriteFile. A file too large for that, or whose buffer
// cannot be had, goes in pieces of a few MiB. A swap in place is in_place_output.cpp's.
#include <windows.h>

#include "outputs.h"

namespace {

HANDLE AsHandle(InputFile::Handle file) { return reinterpret_cast<HANDLE>(file); }

// Another file than the input, created or truncated at the first write, so that a failed read
// leaves it untouched; a failure part-way leaves what was written.
class DirectOutput final : public OutputFile {
 public:
  explicit DirectOutput(const char* path) : path_(path) {}

  FileError Write(const void* data, uint32_t size) override {
    if (!file_) {
      file_.Reset(
          CreateFileA(path_, GENERIC_WRITE, kShareReadWrite, nullptr, CREATE_ALWAYS, 0, nullptr));
      if (!file_) return SystemFailure(FileStep::kOpen, FileSide::kOutput, LastError());
    }
    return WriteWhole(file_.Get(), data, size);
  }
  FileError Commit() override { return FileError{}; }
  uint64_t LargestWholeWrite() const override { return UINT32_MAX; }

 private:
  const char* path_;
  OwnedHandle file_;
};

// Whether `path` names the very file open as `file` (the same volume and file index), whatever
// the spelling of the path or the links leading to it, seen through a handle without access
// rights, which conflicts with no other opener's sharing.
bool IsSameFile(HANDLE file, const char* path) {
  const OwnedHandle named(CreateFileA(path, 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
  BY_HANDLE_FILE_INFORMATION open;
  BY_HANDLE_FILE_INFORMATION info;
  return named && GetFileInformationByHandle(file, &open) &&
         GetFileInformationByHandle(named.Get(), &info) &&
         open.dwVolumeSerialNumber == info.dwVolumeSerialNumber &&
         open.nFileIndexHigh == info.nFileIndexHigh && open.nFileIndexLow == info.nFileIndexLow;
}

// Windows resolves nothing ahead: its one look-up is the path's, when the file is opened.
struct Path final : ResolvedPath {
  explicit Path(const char* given) : path(given) {}
  const char* path;
};

class Win32FileLayer final : public FileLayer {
 public:
  FileError OpenInput(const ResolvedPath& resolved, InputFile* input) override {
    const char* path = static_cast<const Path&>(resolved).path;
    OwnedHandle file(
        CreateFileA(path, GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return SystemFailure(FileStep::kOpen, FileSide::kInput, LastError());
    DWORD high = 0;
    const DWORD low = GetFileSize(file.Get(), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
      return SystemFailure(FileStep::kRead, FileSide::kInput, LastError());
    *input = InputFile(this, reinterpret_cast<InputFile::Handle>(file.Release()),
                       InputFile::Kind::kFile, true, (static_cast<uint64_t>(high) << 32) | low);
    return FileError{};
  }

  FileError Read(const InputFile& input, void* buffer, uint32_t size, uint32_t* got) override {
    auto* at = static_cast<char*>(buffer);
    DWORD read = 0;
    for (*got = 0; *got < size; *got += read) {
      if (!ReadFile(AsHandle(input.Get()), at + *got, size - *got, &read, nullptr))
        return SystemFailure(FileStep::kRead, FileSide::kInput, LastError());
      if (read == 0) break;
    }
    return FileError{};
  }

  void Close(InputFile::Handle file) override { CloseHandle(AsHandle(file)); }

  OwnedPath Resolve(const char* path, const ResolvedPath*) override {
    return MakeOwned<Path, ResolvedPath>(path);
  }

  FileError OpenOutput(InputFile& input, ResolvedPath& resolved, OwnedOutput* output) override {
    const char* path = static_cast<Path&>(resolved).path;
    if (IsSameFile(AsHandle(input.Get()), path)) return OpenInPlaceOutput(input, path, output);
    *output = MakeOutput<DirectOutput>(path);
    return *output ? FileError{} : OutOfMemory(FileSide::kOutput);
  }

  void* Allocate(size_t size) override {
    // From the system rather than the runtime's heap, which cannot align: reads into a buffer that
    // starts mid-page take about twice as long, under Wine as the kernel's own copy.
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  void Release(void* buffer) override { VirtualFree(buffer, 0, MEM_RELEASE); }
  uint32_t PieceBytes() override { return uint32_t{4} << 20; }
};

Win32FileLayer systemFileLayer;

}  // namespace

FileError WriteWhole(HANDLE file, const void* data, uint32_t size) {
  DWORD written = 0;
  if (!WriteFile(file, data, size, &written, nullptr))
    return SystemFailure(FileStep::kWrite, FileSide::kOutput, LastError());
  return written == size ? FileError{}
                         : Failure(FileStep::kWrite, FileSide::kOutput, FileReason::kShortTransfer);
}

FileLayer& SystemFileLayer() { return systemFileLayer; }
