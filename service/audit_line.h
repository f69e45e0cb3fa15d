#pragma once
// One line on standard error per request text, for the journal: when, from
// which page, by which transport, which commands ran and whether the chain
// succeeded. It never holds a parameter, a result or a PIN.

#include <ctime>
#include <string>

#include "protocol/RunProcess.h"
#include "service/request_caller.h"

// The line, ending in "\n":
//   audit time=2026-12-10T08:40:00+0000 origin="https://bank.example"
//   transport=https functions=10,11 chain=ok
// origin="" when none was given. The origin is the page's own text: bytes
// outside printable ASCII, '"' and '\\' are written as \xHH, and it is cut
// after kMaxAuditOriginBytes (ending in "...") so it can neither break the
// line nor flood the log. functions=- when no step ran; chain=failed when
// the last step that ran failed or none ran; chain=refused (and nothing
// ran) when the origin policy refused the request.
std::string AuditLine(std::time_t when, const request_caller& caller, const RunSummary& ran,
                      bool refused = false);

inline constexpr size_t kMaxAuditOriginBytes = 256;
inline constexpr size_t kMaxAuditFunctions = 100;

// Writes AuditLine for now, in one write.
void WriteAuditLine(const request_caller& caller, const RunSummary& ran, bool refused = false);
