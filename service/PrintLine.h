#pragma once
// Diagnostic lines on standard output, each written whole in one call.

// Formats one line and writes it at once, past stdio: no lock is shared
// between connections, and the line is out before the call returns, as it
// would be after printf and fflush.
void PrintLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
