#pragma once
// One service per user session: an abstract-namespace Unix socket bound under
// a fixed name. The kernel frees the name when the process ends, however it ends.

#include <string>

namespace zqt {

// The instance name, leading space included.
inline constexpr const char* kServiceInstanceName = " CZQTCAServiceClient_https";

class SingleInstanceGuard {
  public:
    explicit SingleInstanceGuard(std::string name = kServiceInstanceName);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    // Binds the name. False when another holder has it (lastError() is
    // EADDRINUSE) or when the socket could not be made (another errno).
    // True at once when this guard already holds it.
    bool Acquire();
    void Release();
    bool Held() const { return m_fd >= 0; }
    int lastError() const { return m_lastError; }
    const std::string& name() const { return m_name; }

  private:
    std::string m_name;
    int m_fd = -1;
    int m_lastError = 0;
};

}  // namespace zqt
