// What the stager and the companion tool do alike on the way to their 64-bit
// builds: each takes its own folder from its module path and starts the
// 64-bit build beside it with its own argument text, unchanged.
#pragma once

#include <cstddef>

// CreateProcess takes command lines of 32,767 characters with the
// terminator: 32,766 characters of text.
enum { HANDOFF_COMMAND_LINE_SIZE = 32767 };

// Ends the text at its last backslash, so a folder carries no trailing
// separator, and returns 1; a text without one stays whole and gives 0 (the
// stager then takes the whole text as its folder, the companion tool takes
// it as no folder at all).
int CutAtLastBackslash(char* path);

// The command line that starts `program64` with `argumentText`: the quoted
// path, a blank and the text as it was given. 0 when it fits in `size`
// bytes, 1 when it does not (the text is then not to be used).
int FormatHandOffCommandLine(char* commandLine, size_t size, const char* program64, const char* argumentText);
