#include "app/Options.h"

namespace zqt {

namespace {

CommandLine UsageError(std::string problem) {
    CommandLine line;
    line.action = CommandAction::UsageError;
    line.problem = std::move(problem);
    return line;
}

CommandLine Only(CommandAction action, const std::vector<std::string>& args) {
    if (args.size() > 1) {
        return UsageError("unexpected argument '" + args[1] + "'");
    }
    CommandLine line;
    line.action = action;
    return line;
}

CommandLine MakeCert(const std::vector<std::string>& args) {
    if (args.size() < 2 || args[1].empty()) {
        return UsageError("--make-cert needs a directory");
    }
    if (args.size() > 2) {
        return UsageError("unexpected argument '" + args[2] + "'");
    }
    CommandLine line;
    line.action = CommandAction::MakeCert;
    line.certDir = args[1];
    return line;
}

// The folder is optional: by default the pair that the unit makes.
CommandLine TrustCert(const std::vector<std::string>& args) {
    if (args.size() > 1 && args[1].empty()) {
        return UsageError("--trust-cert needs a non-empty directory");
    }
    if (args.size() > 2) {
        return UsageError("unexpected argument '" + args[2] + "'");
    }
    CommandLine line;
    line.action = CommandAction::TrustCert;
    if (args.size() == 2) {
        line.certDir = args[1];
    }
    return line;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    if (args.empty()) {
        return CommandLine{};
    }
    const std::string& first = args[0];
    if (first == "--help") {
        return Only(CommandAction::Help, args);
    }
    if (first == "--version") {
        return Only(CommandAction::Version, args);
    }
    if (first == "--make-cert") {
        return MakeCert(args);
    }
    if (first == "--trust-cert") {
        return TrustCert(args);
    }
    if (first == "--untrust-cert") {
        return Only(CommandAction::UntrustCert, args);
    }
    if (first.starts_with("-")) {
        return UsageError("unknown option '" + first + "'");
    }
    return UsageError("unexpected argument '" + first + "'");
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i] ? argv[i] : "");
    }
    return ParseCommandLine(args);
}

const std::string& UsageText() {
    static const std::string text =
        "Usage: zqtca-service [--help | --version | --make-cert DIR | --trust-cert [DIR]\n"
        "                     | --untrust-cert]\n"
        "\n"
        "Local signing service for web pages on 127.0.0.1:9651 (HTTP, WebSocket)\n"
        "and 127.0.0.1:9652 (HTTPS, secure WebSocket). Without options it serves.\n"
        "\n"
        "  --help            show this help and exit\n"
        "  --version         show the version and exit\n"
        "  --make-cert DIR   write DIR/ssl_crt.pem and DIR/ssl_key.pem, a self-signed\n"
        "                    certificate and key for 127.0.0.1 and localhost\n"
        "  --trust-cert [DIR]\n"
        "                    have Chromium and Firefox trust DIR/ssl_crt.pem (by default\n"
        "                    ~/.local/share/zqtca/ZQTService/ssl_crt.pem, the pair the\n"
        "                    systemd unit makes): adds it to ~/.pki/nssdb and to every\n"
        "                    Firefox profile with certutil; a second run changes nothing\n"
        "  --untrust-cert    remove it from those databases again\n";
    return text;
}

const std::string& VersionText() {
    static const std::string text = "ZQTCAServiceClient，1.0 版\n";
    return text;
}

}  // namespace zqt
