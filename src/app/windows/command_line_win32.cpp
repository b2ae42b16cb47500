#include "command_line_win32.h"

#include <windows.h>

#include "command_line.h"
#include "swap.h"

// The values the command line gives, process-wide; an option never given leaves its start value.
const char* g_inputPath = "";
const char* g_outputPath = "";
int32_t g_dataSizeBits = 0;

// The usage message: eight lines joined by bare line feeds.
const char kUsageText[] =
    "Orvane Command Line Usage\n"
    "\n"
    "-in <file path>               : Path to file to be byte swapped\n"
    "-out <file path>             : Output file path to contain swapped results\n"
    "-datasize <size in bits>  : Size in bits of each data block (16, 32, or 64)\n"
    "\n"
    "example:\n"
    "Orvdane -in \"c:\\foo\\filein.bin\" -out \"c:\\foo\\fileout.bin\" -datasize 16";

int RunCommandLine(int argc, const char* const* argv) {
  if (!ParseCommandLine(argc, argv, &g_inputPath, &g_outputPath, &g_dataSizeBits).ok()) {
    MessageBoxA(nullptr, kUsageText, "Command Line Usage", MB_OK | MB_ICONINFORMATION);
    return kExitFailure;
  }
  const bool swapped =
      SwapFileByteOrder(g_inputPath, g_outputPath, static_cast<unsigned>(g_dataSizeBits));
  return swapped ? kExitSuccess : kExitFailure;
}
