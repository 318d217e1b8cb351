#include "common/BoundedText.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

int CopyTextRange(char* target, size_t size, const char* source, size_t length)
{
    if (size == 0) {
        return 1;
    }
    if (length < size) {
        memmove(target, source, length);
        target[length] = '\0';
        return 0;
    }
    memmove(target, source, size - 1);
    target[size - 1] = '\0';
    return 1;
}

int CopyText(char* target, size_t size, const char* source)
{
    return CopyTextRange(target, size, source, strlen(source));
}

int AppendText(char* target, size_t size, const char* source)
{
    size_t used = strnlen(target, size);
    if (used >= size) {
        return 1;
    }
    return CopyText(target + used, size - used, source);
}

int FormatText(char* target, size_t size, const char* format, ...)
{
    if (size == 0) {
        return 1;
    }
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(target, size, format, arguments);
    va_end(arguments);
    target[size - 1] = '\0';  // some C runtimes leave a full buffer unterminated
    if (length < 0) {
        target[0] = '\0';
        return 1;
    }
    return static_cast<size_t>(length) < size ? 0 : 1;
}
