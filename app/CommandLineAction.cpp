#include "app/CommandLineAction.h"

#include <cstdlib>

#include "app/MakeCert.h"
#include "app/TrustCert.h"

namespace zqt {

namespace {

constexpr const char* kProgram = "zqtca-service";

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

TrustSetup TrustSetupFor(const CommandLine& line) {
    TrustSetup setup;
    setup.home = Environment("HOME");
    setup.searchPath = Environment("PATH");
    const std::string directory =
        line.certDir.empty() ? DefaultCertificateDirectory(setup.home) : line.certDir;
    setup.certificate = directory + "/" + kCertificateFileName;
    return setup;
}

}  // namespace

std::optional<int> RunCommandLineAction(const CommandLine& line, std::ostream& out,
                                        std::ostream& err) {
    switch (line.action) {
        case CommandAction::Serve:
            return std::nullopt;
        case CommandAction::Help:
            out << UsageText() << std::flush;
            return 0;
        case CommandAction::Version:
            out << VersionText() << std::flush;
            return 0;
        case CommandAction::MakeCert: {
            const MakeCertResult result = MakeCertificateFiles(line.certDir);
            if (!result.ok) {
                err << kProgram << ": " << result.message << '\n' << std::flush;
                return 1;
            }
            out << result.message << '\n' << std::flush;
            return 0;
        }
        case CommandAction::TrustCert:
            return TrustCertificate(TrustSetupFor(line), out, err);
        case CommandAction::UntrustCert:
            return UntrustCertificate(TrustSetupFor(line), out, err);
        case CommandAction::UsageError:
            err << kProgram << ": " << line.problem << '\n' << UsageText() << std::flush;
            return 2;
    }
    return 2;
}

}  // namespace zqt
