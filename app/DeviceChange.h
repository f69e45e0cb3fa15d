#pragma once
// A device-interface notification as the USB key watcher receives it.

#include <cstdint>
#include <string>

namespace zqt {

inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEQUERYREMOVE = 0x8001;
inline constexpr std::uint32_t DBT_DEVICEREMOVEPENDING = 0x8003;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;
inline constexpr std::uint32_t DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr std::uint32_t DBT_DEVTYP_VOLUME = 2;
inline constexpr std::uint32_t DBT_DEVTYP_PORT = 3;
inline constexpr std::uint32_t DBT_DEVTYP_DEVICEINTERFACE = 5;
inline constexpr std::uint32_t DBT_DEVTYP_HANDLE = 6;

struct DeviceChangeRecord {
    std::uint32_t eventCode = 0;
    std::uint32_t deviceType = 0;
    // Device path, e.g. \\?\USB#VID_055C&PID_7425#instance#{class GUID}
    std::u16string name;
};

}  // namespace zqt
