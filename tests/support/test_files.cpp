#include "test_files.h"

#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device entropy;
  for (;;) {
    root_ = fs::temp_directory_path() / ("orvane-test-" + std::to_string(entropy()));
    if (fs::create_directory(root_)) break;
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
}

std::string TempFolder::Path(const std::string& name) const { return (root_ / name).string(); }

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return fs::exists(path); }

Bytes RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& byte : bytes) byte = static_cast<unsigned char>(generator());
  return bytes;
}

Bytes ReferenceSwap(const Bytes& input, unsigned blockBytes) {
  Bytes output(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    const size_t inBlock = i % blockBytes;
    output[i] = input[i - inBlock + blockBytes - 1 - inBlock];
  }
  return output;
}

bool IsReversedHere(unsigned blockBytes) {
#if defined(_WIN32)
  return blockBytes == 2 || blockBytes == 4 || blockBytes == 8;
#else
  return blockBytes >= 2 && blockBytes <= 128;
#endif
}

Bytes SwappedHere(const Bytes& input, unsigned blockBytes) {
  return IsReversedHere(blockBytes) ? ReferenceSwap(input, blockBytes) : input;
}
