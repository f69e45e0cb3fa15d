#include "app/UsbKeyWatcher.h"

#include <mutex>

namespace zqt {

namespace {

constexpr std::u16string_view kKnownKeyModels[] = {
    u"VID_055C&PID_7425",
    u"VID_5448&PID_0003",
};

constexpr std::size_t kPathPrefixLength = 4;  // "\\?\"

}  // namespace

std::u16string_view DeviceIdentifierField(std::u16string_view deviceName) {
    if (deviceName.size() < kPathPrefixLength) {
        return {};
    }
    const std::u16string_view rest = deviceName.substr(kPathPrefixLength);
    const std::size_t first = rest.find(u'#');
    if (first == std::u16string_view::npos) {
        return {};
    }
    const std::size_t second = rest.find(u'#', first + 1);
    if (second == std::u16string_view::npos) {
        return {};
    }
    return rest.substr(first + 1, second - first - 1);
}

bool IsKnownKeyModel(std::u16string_view deviceIdentifier) {
    for (std::u16string_view model : kKnownKeyModels) {
        if (deviceIdentifier == model) {
            return true;
        }
    }
    return false;
}

UsbKeyWatcher::UsbKeyWatcher() : UsbKeyWatcher(TheCertSealListCache(), ReadCertAndSealListXEPA) {}

UsbKeyWatcher::UsbKeyWatcher(CertSealListCache& cache, ListReader reader)
    : m_cache(cache), m_reader(std::move(reader)) {}

std::uint32_t UsbKeyWatcher::OnDeviceChange(std::uint32_t eventCode,
                                            const DeviceChangeRecord* record) {
    if (Stopping() || record == nullptr) {
        return 0;
    }
    if (eventCode != DBT_DEVICEARRIVAL && eventCode != DBT_DEVICEREMOVECOMPLETE) {
        return 0;
    }
    if (record->deviceType != DBT_DEVTYP_DEVICEINTERFACE) {
        return 0;
    }
    // The platform's name is zero-terminated: nothing after a NUL belongs to it.
    std::u16string_view name = record->name;
    name = name.substr(0, name.find(u'\0'));
    if (!IsKnownKeyModel(DeviceIdentifierField(name))) {
        return 0;
    }
    RefreshList();
    return 0;
}

void UsbKeyWatcher::RefreshList() {
    // The read runs under the lock so a list command never sees a half-made refresh.
    std::lock_guard<std::mutex> hold(m_cache.listLock);
    m_cache.text = m_reader ? m_reader() : std::u16string();
}

}  // namespace zqt
