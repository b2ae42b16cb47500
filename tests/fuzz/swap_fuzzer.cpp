// The whole-file swap over arbitrary file contents and data sizes, with real files. The first byte
// of the input picks the data size, the second where the output goes (a new file, an existing file,
// the input itself); the rest is the file. Properties: the swap succeeds exactly when the size is a
// non-zero multiple of the block length and the data size a whole number of bytes from 2 to 128; a
// success keeps the size, reverses each block and undoes itself when run again; a failure leaves
// both files as they were.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "swap.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Sizes with paths of their own, sizes the swap must refuse, and sizes of the general path.
constexpr unsigned kDataSizes[] = {16, 32, 64, 0, 8, 24, 48, 128, 20, 1024, 1032};

// A private folder for the two files, removed when the fuzzer ends: in memory where the system has
// such a folder, since every swap in place flushes its new file to the disk.
char g_memoryFolder[] = "/dev/shm/orvane-fuzz.XXXXXX";
char g_diskFolder[] = "/tmp/orvane-fuzz.XXXXXX";
const char* g_folder = nullptr;

void RemoveFolder() {
  unlink((std::string(g_folder) + "/in.bin").c_str());
  unlink((std::string(g_folder) + "/out.bin").c_str());
  rmdir(g_folder);
}

const std::string& Folder() {
  static const std::string folder = [] {
    g_folder = mkdtemp(g_memoryFolder);
    if (!g_folder) g_folder = mkdtemp(g_diskFolder);
    if (!g_folder) abort();
    atexit(RemoveFolder);
    return std::string(g_folder);
  }();
  return folder;
}

void Write(const std::string& path, const Bytes& bytes) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) abort();
  if (!bytes.empty() && fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) abort();
  fclose(file);
}

bool Read(const std::string& path, Bytes* bytes) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  bytes->clear();
  unsigned char chunk[4096];
  for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;)
    bytes->insert(bytes->end(), chunk, chunk + got);
  fclose(file);
  return true;
}

Bytes Reference(const Bytes& input, unsigned blockBytes) {
  Bytes output(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    const size_t inBlock = i % blockBytes;
    output[i] = input[i - inBlock + blockBytes - 1 - inBlock];
  }
  return output;
}

void Require(bool condition) {
  if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned dataSizeBits = kDataSizes[data[0] % (sizeof kDataSizes / sizeof kDataSizes[0])];
  const int destination = data[1] % 3;  // 0: a new file, 1: an existing file, 2: the input itself
  const Bytes original(data + 2, data + size);
  const Bytes previous = {'o', 'l', 'd', ' ', 'o', 'u', 't', 'p', 'u', 't', '!'};

  const std::string input = Folder() + "/in.bin";
  const std::string output = destination == 2 ? input : Folder() + "/out.bin";
  Write(input, original);
  if (destination == 0) unlink(output.c_str());
  if (destination == 1) Write(output, previous);

  const unsigned blockBytes = dataSizeBits / 8;
  const bool swappable = dataSizeBits % 8 == 0 && dataSizeBits >= 16 && dataSizeBits <= 1024 &&
                         !original.empty() && original.size() % blockBytes == 0;
  const bool swapped = SwapFileByteOrder(input.c_str(), output.c_str(), dataSizeBits);
  Require(swapped == swappable);

  Bytes onDisk;
  if (!swapped) {
    Require(Read(input, &onDisk) && onDisk == original);
    if (destination == 0) Require(access(output.c_str(), F_OK) != 0);
    if (destination == 1) Require(Read(output, &onDisk) && onDisk == previous);
    return 0;
  }
  Require(Read(output, &onDisk) && onDisk.size() == original.size());
  Require(onDisk == Reference(original, blockBytes));
  if (destination != 2) Require(Read(input, &onDisk) && onDisk == original);

  // Its own inverse: swapped again, in place, the output is the original once more.
  Require(SwapFileByteOrder(output.c_str(), output.c_str(), dataSizeBits));
  Require(Read(output, &onDisk) && onDisk == original);
  return 0;
}
