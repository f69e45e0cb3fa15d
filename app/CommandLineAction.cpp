#include "app/CommandLineAction.h"

#include "app/MakeCert.h"

namespace zqt {

namespace {

constexpr const char* kProgram = "zqtca-service";

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
        case CommandAction::UsageError:
            err << kProgram << ": " << line.problem << '\n' << UsageText() << std::flush;
            return 2;
    }
    return 2;
}

}  // namespace zqt
