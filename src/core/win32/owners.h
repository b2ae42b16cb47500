// Owners of what the Win32 file layer opens, loads and allocates, each released when its owner
// goes, and the one way its calls report a failure.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <memory>
#include <type_traits>
#include <utility>

#include "file_error.h"

/// A file handle, closed when its owner goes.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    Reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
    return *this;
  }
  ~OwnedHandle() { Reset(); }

  HANDLE Get() const { return handle_; }
  explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = handle;
  }
  HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

/// A system DLL loaded for one call (LoadLibraryA), freed when its owner goes.
using LoadedLibrary = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

/// Memory from the C heap, freed when its owner goes.
using HeapMemory = std::unique_ptr<void, decltype(&free)>;

/// The failed call's GetLastError code, never NO_ERROR.
inline DWORD LastError() {
  const DWORD error = GetLastError();
  return error != NO_ERROR ? error : ERROR_GEN_FAILURE;
}

inline FileError SystemFailure(FileStep step, FileSide side, DWORD error) {
  return Failure(step, side, FileReason::kSystem, static_cast<int>(error));
}

/// A kernel32 or advapi32 function that Windows XP lacks, or that the program does not import (it
/// imports from four system DLLs only), looked up when it is needed; null where there is none.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
  if (!module) return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
