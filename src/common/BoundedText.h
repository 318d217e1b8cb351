// Bounded copying and formatting into fixed 8-bit text buffers.
//
// Every buffer write of the program goes through these two helpers, so no call
// site can write past the end of its buffer: the result is always terminated
// within `size` bytes, and the return value says whether the whole text fit.
#pragma once

#include <cstddef>

// Copies `source` into `target` (room for `size` bytes). Returns 0 when the whole
// text fit, 1 when it was cut (or `size` is 0, which leaves `target` untouched).
int CopyText(char* target, size_t size, const char* source);

// Copies the first `length` characters of `source` (which must have at least
// that many) and a terminator. Same result as CopyText.
int CopyTextRange(char* target, size_t size, const char* source, size_t length);

// Appends `source` to the text already in `target`. Same result as CopyText;
// a text that does not fit leaves `target` cut at its last byte.
int AppendText(char* target, size_t size, const char* source);

// printf-style formatting into `target`. Returns 0 when the whole text fit,
// 1 when it was cut at size - 1 characters (or formatting failed: empty text).
int FormatText(char* target, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
