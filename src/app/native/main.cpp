// The native entry: the command line as Linux users expect it (with no arguments, where Orvane.exe
// opens its dialog, it says what is missing).
#include "native_command_line.h"

int main(int argc, char** argv) { return RunNativeCommandLine(argc, argv); }
