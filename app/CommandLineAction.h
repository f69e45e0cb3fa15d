#pragma once
// Carries out the command-line actions that end the process before serving.

#include <optional>
#include <ostream>

#include "app/Options.h"

namespace zqt {

// Help and version print on out and give 0; --make-cert gives 0, or 1 with
// the reason on err; --trust-cert and --untrust-cert give 0, or 1 when a
// database could not be brought to the wanted state; a usage error prints
// the problem and the usage on err and gives 2. Serve gives nothing: the
// caller starts the service.
std::optional<int> RunCommandLineAction(const CommandLine& line, std::ostream& out,
                                        std::ostream& err);

}  // namespace zqt
