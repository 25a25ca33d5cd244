// Output helpers. Everything goes to standard output; an error is the text
// "ERROR: " followed by its message, a warning "WARNING: " and its message.
#pragma once

#if defined(__GNUC__)
#define ORN_PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ORN_PRINTF_LIKE(fmt, args)
#endif

// Prints "ERROR: " and then the formatted message.
void PrintError(const char* format, ...) ORN_PRINTF_LIKE(1, 2);
// Prints "WARNING: " and then the formatted message.
void PrintWarning(const char* format, ...) ORN_PRINTF_LIKE(1, 2);
