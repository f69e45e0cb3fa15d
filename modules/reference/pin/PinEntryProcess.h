#pragma once
// The pinentry child: started with posix_spawn, a clean signal state (empty
// mask, stop signals at their default), pipes on its standard input and
// output, standard error on /dev/null, a chosen environment and no other
// descriptor of ours; killed if need be and always reaped.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace ref::pinentry {

using Clock = std::chrono::steady_clock;

// Whether pinentry may see the variable: the display, session bus, runtime
// folder, home, path, terminal and locale variables (every LC_*).
bool IsPassedVariable(std::string_view name);

// The "NAME=value" entries of `envp` (null-terminated) that pass.
std::vector<std::string> PassedEnvironment(char* const* envp);

class PinEntryProcess {
  public:
    PinEntryProcess() = default;
    // Kills a child still running, reaps it and closes every descriptor.
    ~PinEntryProcess();
    PinEntryProcess(const PinEntryProcess&) = delete;
    PinEntryProcess& operator=(const PinEntryProcess&) = delete;

    // Starts `program` (an absolute path) with exactly `environment`. On
    // failure nothing is left open and `error` says why.
    bool Start(const std::string& program, const std::vector<std::string>& environment,
               std::string& error);

    int input() const { return toChild_; }     // ours: its standard input (non-blocking)
    int output() const { return fromChild_; }  // ours: its standard output (non-blocking)

    // Closes our end of its standard input: it reads end of file.
    void CloseInput();

    // Waits for the child to end until `until`; kills it then if it has not;
    // reaps it either way.
    void Finish(Clock::time_point until);

    // SIGKILL now, then reaps.
    void Kill();

    // "exited with status 1", "killed by signal 9", or "" when not known.
    std::string HowItEnded() const;

  private:
    bool TryReap();                           // true once the child is gone
    bool WaitUntil(Clock::time_point until);  // true once the child is gone
    void CloseAll();

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    bool running_ = false;
    bool haveStatus_ = false;
    int status_ = 0;
};

}  // namespace ref::pinentry
