// The file layer on Win32: the narrow-character kernel32 calls, one ReadFile and one WriteFile for
// the whole size, the buffer from the runtime library's heap. A file too large for that is swapped
// in pieces of a few MiB.
#include <windows.h>

#include <cstdlib>

#include "file_layer.h"

namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE AsHandle(FileLayer::Handle file) { return reinterpret_cast<HANDLE>(file); }

FileLayer::Handle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? FileLayer::kNoFile
                                        : reinterpret_cast<FileLayer::Handle>(handle);
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

  // A handle without access rights conflicts with no other opener's sharing, so the named file can
  // be looked at while the input is held open.
  bool IsSameFile(Handle file, const char* path) override {
    const HANDLE named = CreateFileA(path, 0, kShareReadWrite | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION openInfo;
    BY_HANDLE_FILE_INFORMATION namedInfo;
    const bool same = GetFileInformationByHandle(AsHandle(file), &openInfo) &&
                      GetFileInformationByHandle(named, &namedInfo) &&
                      openInfo.dwVolumeSerialNumber == namedInfo.dwVolumeSerialNumber &&
                      openInfo.nFileIndexHigh == namedInfo.nFileIndexHigh &&
                      openInfo.nFileIndexLow == namedInfo.nFileIndexLow;
    CloseHandle(named);
    return same;
  }

  bool GetSize(Handle file, uint64_t* size) override {
    DWORD high = 0;
    const DWORD low = GetFileSize(AsHandle(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    *size = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }

  bool Seek(Handle file, uint64_t offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(AsHandle(file), distance, nullptr, FILE_BEGIN) != 0;
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

  void* AllocateBuffer(size_t size) override { return malloc(size); }

  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }

  uint64_t LargestWholeFile() override { return UINT32_MAX; }
  uint32_t WholeReadPieceBytes() override { return UINT32_MAX; }
  uint32_t StreamPieceBytes() override { return uint32_t{4} << 20; }
};

Win32FileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
