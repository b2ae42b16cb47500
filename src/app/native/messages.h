// Everything the native program says: on standard error, one line each (two for a wrong argument),
// with the quoting of the names in it; on standard output, the help and the version.
#pragma once

#include <string>

#include "command_line.h"
#include "layout.h"
#include "native_arguments.h"
#include "standard_streams.h"
#include "swap.h"

/// The help, written for Linux users, and the version with its copyright and licence, as printed to
/// standard output.
extern const char kNativeHelp[];
extern const char kNativeVersion[];

/// Says what is wrong with the arguments, and where help is.
void SayWrong(const std::string& what);

/// Says "orvane: " and `message` on standard error; returns the exit code of a failure.
int Fail(const std::string& message);

/// What a failed write of the help or the version (`request`) to standard output says: standard
/// output closed when the program started, or the write's errno (0 where nothing more was stored).
std::string UnwrittenMessage(NativeRequest request, bool closed, int error);

/// What a file named a second time in one command says, in place, naming its `earlier` name.
std::string SwappedAlreadyMessage(const char* file, const char* earlier);

/// What a file whose `output` in the folder is the output of the file `first` already says.
std::string SameOutputMessage(const char* file, const char* output, const char* first);
/// What a file whose `output` in the folder is `other`, another of the files swapped, says.
std::string OutputIsInputMessage(const char* file, const char* output, const char* other);

/// What standard output refused as the output says: a terminal, which swapped data would garble.
std::string TerminalOutputMessage();

/// What a failed swap says, naming the user's file on the failing side (a staged file written
/// beside it is of no interest to the user), or the standard stream that "-" names. `inputType`
/// tells how an input that is also the output is refused.
std::string FailureMessage(const SwapOutcome& outcome, const NativeArguments& arguments,
                           StreamType inputType);

/// What a wrong argument says, for SayWrong: no arguments at all; the options never given (each
/// flag true where it was); -datasize with -layout; an -offset (`offset`) or -length `value` that
/// is no count of bytes; a -length that is no whole number of `blockBytes` blocks, or of the layout
/// where that is 0; a layout `value` (with its '@' where it names a file) that does not compile,
/// and `why`; '-' among the files; a file besides -in; an -out that must be a folder.
std::string NoArgumentsMessage();
std::string MissingOptionsMessage(bool input, bool output, bool blocks);
std::string DataSizeWithLayoutMessage();
std::string InvalidRangeMessage(bool offset, const char* value);
std::string InvalidLengthMessage(const char* value, unsigned blockBytes);
std::string InvalidLayoutMessage(const char* value, LayoutSource source, const std::string& why);
std::string StandardInputAsFileMessage();
std::string ExtraOperandMessage(const char* file);
std::string NotAFolderMessage(const char* output);

/// What the parser stopped at (`result`), naming the argument of `argv` as typed; a refused data
/// size names the size in bits of a value that would be one in bytes.
std::string StoppedMessage(const ParseResult& result, const char* const* argv);

/// What a layout file `path` that cannot be read says: the errno `error`, or where that is 0, that
/// it is longer than `longest` bytes.
std::string UnreadableLayoutFileMessage(const char* path, int error, size_t longest);
