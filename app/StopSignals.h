#pragma once
// The stop signals (SIGTERM, SIGINT, SIGHUP) as bytes on a pipe. A handler,
// not a blocked mask, catches them: a blocked mask would be inherited by
// every thread and, across exec, by every child a control module starts,
// which would then ignore systemd's SIGTERM.

namespace zqt {

class StopSignals {
  public:
    StopSignals() = default;
    ~StopSignals();  // restores the default actions, closes the pipe
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Makes the pipe and installs the handlers. One object at a time.
    bool Install();
    // Readable once a stop signal has arrived.
    int fd() const { return m_read; }
    // Takes one arrived signal off the pipe: its number, or 0 when none.
    int Take();

  private:
    int m_read = -1;
    int m_write = -1;
    bool m_installed = false;
};

}  // namespace zqt
