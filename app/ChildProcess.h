#pragma once
// Runs a helper program with an argument vector (never through a shell) and
// collects what it writes.

#include <optional>
#include <string>
#include <vector>

namespace zqt {

struct ChildResult {
    int spawnError = 0;   // errno when the program could not be started, else 0
    int exitStatus = -1;  // its exit status; -1 when it did not exit normally
    std::string out;      // standard output
    std::string err;      // standard error
};

// Runs program (a path) with args (argv[1]...), standard input from
// /dev/null, the environment of this process, and the signal mask and
// dispositions reset to the defaults.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args);

// The first executable file called name in the directories of searchPath
// (a PATH value); empty directories and relative ones are skipped.
std::optional<std::string> FindProgram(const std::string& name, const std::string& searchPath);

}  // namespace zqt
