// A file layer that passes every call to the platform's own and makes the faults happen that no
// real file can produce on demand: a failed or short read, a failed or short write, a failed
// allocation, a size beyond 32 bits. It also counts the files opened.
#pragma once

#include <cstdint>

#include "file_layer.h"

struct Faults {
  bool failRead = false;
  bool shortRead = false;   ///< reads all but the last byte, then reports failure
  bool failWrite = false;
  bool shortWrite = false;  ///< writes the first half, then reports failure
  bool failAllocation = false;
  uint64_t reportedSize = 0;  ///< when non-zero, the size the input claims to have
};

class FaultyFileLayer final : public FileLayer {
 public:
  explicit FaultyFileLayer(Faults faults) : faults_(faults) {}

  int opened = 0;
  int allocations = 0;

  Handle OpenInput(const char* path) override {
    ++opened;
    return real_.OpenInput(path);
  }
  Handle CreateOutput(const char* path) override {
    ++opened;
    return real_.CreateOutput(path);
  }
  bool GetSize(Handle file, uint64_t* size) override {
    if (!real_.GetSize(file, size)) return false;
    if (faults_.reportedSize != 0) *size = faults_.reportedSize;
    return true;
  }
  bool ReadAll(Handle file, void* buffer, uint32_t size) override {
    if (faults_.failRead) return false;
    if (faults_.shortRead) {
      real_.ReadAll(file, buffer, size - 1);
      return false;
    }
    return real_.ReadAll(file, buffer, size);
  }
  bool WriteAll(Handle file, const void* buffer, uint32_t size) override {
    if (faults_.failWrite) return false;
    if (faults_.shortWrite) {
      real_.WriteAll(file, buffer, size / 2);
      return false;
    }
    return real_.WriteAll(file, buffer, size);
  }
  void Close(Handle file) override { real_.Close(file); }
  void* AllocateBuffer(size_t size) override {
    ++allocations;
    return faults_.failAllocation ? nullptr : real_.AllocateBuffer(size);
  }
  void ReleaseBuffer(void* buffer, size_t size) override { real_.ReleaseBuffer(buffer, size); }

 private:
  FileLayer& real_ = SystemFileLayer();
  Faults faults_;
};
