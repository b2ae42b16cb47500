// The file layer on Win32: the narrow-character kernel32 calls, one ReadFile and one WriteFile for
// the whole size, the buffer from the runtime library's heap.
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

  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    DWORD written = 0;
    return WriteFile(AsHandle(file), buffer, size, &written, nullptr) && written == size;
  }

  void Close(Handle file) override { CloseHandle(AsHandle(file)); }

  void* AllocateBuffer(size_t size) override { return malloc(size); }

  void ReleaseBuffer(void* buffer, size_t) override { free(buffer); }
};

Win32FileLayer systemFileLayer;

}  // namespace

FileLayer& SystemFileLayer() { return systemFileLayer; }
