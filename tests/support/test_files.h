// Real files in a private folder for each test, and an independent reference of the swap.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

/// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  /// The path of `name` inside the folder, as a narrow string for the program's own calls.
  std::string Path(const std::string& name) const;
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);
bool Exists(const std::string& path);
/// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t size, uint32_t seed);
/// Byte i of the result is the byte at the mirror of i within its block of the input: reversal
/// within each block, written from the index arithmetic rather than by swapping.
Bytes ReferenceSwap(const Bytes& input, unsigned blockBytes);
/// Whether this build reverses blocks of `blockBytes`: any length from 2 to 128 bytes natively, 2,
/// 4 and 8 bytes in the Windows programs (which carry no other kernels). Said here apart from the
/// program's own check, which a test holds to it.
bool IsReversedHere(unsigned blockBytes);
/// What SwapBlocks leaves in this build: ReferenceSwap where IsReversedHere, else the input as it
/// is.
Bytes SwappedHere(const Bytes& input, unsigned blockBytes);
