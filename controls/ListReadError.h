#pragma once
// Where a failed read of the certificate-and-seal list is reported.

namespace zqt {

// Writes "有异常" followed by at most 1023 bytes of message as one error line.
// Never throws and never blocks on the user.
void ReportListReadError(const char* message) noexcept;

}  // namespace zqt
