#pragma once
// The service's command line: no option serves; the rest print and exit.

#include <string>
#include <vector>

namespace zqt {

enum class CommandAction {
    Serve,
    Help,
    Version,
    MakeCert,
    TrustCert,
    UntrustCert,
    UsageError,
};

struct CommandLine {
    CommandAction action = CommandAction::Serve;
    std::string certDir;  // MakeCert; TrustCert when given (else the unit's pair)
    std::string problem;  // UsageError only: what was wrong, for the error line
};

// args are the arguments after the program name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text, ending with a newline.
const std::string& UsageText();

// The about text and a newline: "ZQTCAServiceClient，1.0 版\n".
const std::string& VersionText();

}  // namespace zqt
