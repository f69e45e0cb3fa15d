#pragma once
// Refreshes the cached certificate-and-seal list when a USB key of a known
// model arrives or is removed.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/DeviceChange.h"
#include "controls/CertSealList.h"

namespace zqt {

// The text between the first and the second "#" of a device path, after its
// four-character \\?\ prefix; empty when either "#" is missing.
std::u16string_view DeviceIdentifierField(std::u16string_view deviceName);

// Exact, case-sensitive match against the two known key models.
bool IsKnownKeyModel(std::u16string_view deviceIdentifier);

class UsbKeyWatcher {
  public:
    using ListReader = std::function<std::u16string()>;

    UsbKeyWatcher();  // the process-wide cache and ReadCertAndSealListXEPA
    UsbKeyWatcher(CertSealListCache& cache, ListReader reader);

    // Returns 0 for every event. eventCode is the notification's code; the
    // record supplies device type and name. A null record is ignored.
    std::uint32_t OnDeviceChange(std::uint32_t eventCode, const DeviceChangeRecord* record);
    std::uint32_t OnDeviceChange(const DeviceChangeRecord& record) {
        return OnDeviceChange(record.eventCode, &record);
    }

    // From here on every event is ignored: shutting down must not refresh.
    void Stop() { m_stopping.store(true); }
    bool Stopping() const { return m_stopping.load(); }

  private:
    void RefreshList();

    CertSealListCache& m_cache;
    ListReader m_reader;
    std::atomic<bool> m_stopping{false};
};

}  // namespace zqt
