#pragma once
// The desktop's own PIN dialog, driven over pinentry's Assuan protocol on
// its standard input and output. What we send is %-escaped, so no subject
// or label can inject a command; what pinentry sends back is unescaped.

#include <string>

#include "core/Secret.h"

namespace ref {

struct PinEntrySettings {
    std::string program;      // pinentry executable (absolute path)
    int timeoutSeconds = 60;  // SETTIMEOUT; the dispatch lock is held meanwhile
};

struct PinRequest {
    std::string title;        // SETTITLE
    std::string description;  // SETDESC: operation, subject, serial, token (may hold line breaks)
    std::string prompt;       // SETPROMPT ("PIN:", "Password:")
    std::string error;        // SETERROR, shown above the field when not empty
    bool repeat = false;      // SETREPEAT: ask twice (a new password)
};

enum class PinStatus {
    kOk,           // a PIN was entered / the user confirmed
    kCancelled,    // the user cancelled or declined, or the prompt timed out
    kUnavailable,  // no usable pinentry: missing, crashed, no display or terminal
};

struct PinAnswer {
    PinStatus status = PinStatus::kUnavailable;
    Secret pin;          // only with kOk
    std::string detail;  // why, for the error message; never holds the PIN
};

// One GETPIN. Starts the program with the default signal mask (the service
// blocks its stop signals, and a child would inherit that) and only the
// display, session-bus, locale and runtime variables of our environment.
PinAnswer AskPin(const PinEntrySettings& settings, const PinRequest& request);

// One CONFIRM with OK and Cancel buttons.
PinAnswer AskConfirm(const PinEntrySettings& settings, const std::string& title,
                     const std::string& description);

// %-escapes '%', CR and LF (and other control characters) for an Assuan line.
std::string AssuanEscape(const std::string& text);

}  // namespace ref
