// The floor for a whole-file swap on Windows: the same work without the swap. It opens the input as
// the swap does, reads it whole with one ReadFile into one buffer of its size, page-aligned as the
// swap's is, creates the output and writes the buffer with one WriteFile. Built with the same
// toolchain and options as Orvane.exe.
//   copy_floor_win32.exe INPUT OUTPUT   (exit code 0 on success)
#include <windows.h>

#include <cstdlib>  // __argc, __argv

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc != 3) return 2;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  HANDLE input = CreateFileA(__argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return 1;
  const DWORD size = GetFileSize(input, nullptr);
  void* buffer = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  DWORD read = 0;
  const bool got = buffer && ReadFile(input, buffer, size, &read, nullptr) && read == size;
  CloseHandle(input);
  if (!got) return 1;
  HANDLE output = CreateFileA(__argv[2], GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const bool put = WriteFile(output, buffer, size, &written, nullptr) && written == size;
  CloseHandle(output);
  VirtualFree(buffer, 0, MEM_RELEASE);
  return put ? 0 : 1;
}
