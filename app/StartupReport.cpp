#include "app/StartupReport.h"

#include <dlfcn.h>
#include <link.h>

#include <cstring>

#include "controls/HostedControl.h"
#include "controls/SharedLibrary.h"
#include "support/DiagnosticLog.h"
#include "zqtca/cert_seal_list.h"

namespace zqt {

namespace {

constexpr const char* kFile = "StartupReport";

void ReportControl(const HostedControl& control) {
    const std::string where = ModuleLocation(control.ModuleName());
    if (where.empty()) {
        log::msg4(kFile, __LINE__, __func__, "control module %s: not found", control.ModuleName());
    } else if (control.IsCreated()) {
        log::msg4(kFile, __LINE__, __func__, "control module %s: %s, control %s created",
                  control.ModuleName(), where.c_str(), control.ClassId());
    } else {
        log::msg4(kFile, __LINE__, __func__,
                  "control module %s: %s, but no control %s (another interface version, or "
                  "the class refused)",
                  control.ModuleName(), where.c_str(), control.ClassId());
    }
}

}  // namespace

std::string ModuleLocation(const char* fileName) {
    // A second open of a loaded library only counts up its references.
    LibraryHandle library = OpenModuleLibrary(fileName);
    if (!library) {
        return {};
    }
    link_map* map = nullptr;
    if (dlinfo(library.get(), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
        map->l_name == nullptr || *map->l_name == '\0') {
        return fileName;
    }
    return map->l_name;
}

void ReportLoadedModules() {
    ReportControl(CUlvoctrlctrl::Instance());
    ReportControl(CUlvocertenrollctrl::Instance());
    const std::string list = ModuleLocation(ZQT_CERT_SEAL_LIST_LIBRARY);
    log::msg4(kFile, __LINE__, __func__, "list library %s: %s", ZQT_CERT_SEAL_LIST_LIBRARY,
              list.empty() ? "not found" : list.c_str());
}

void ReportUsbWatcher(bool on, int error) {
    if (on) {
        log::msg4(kFile, __LINE__, __func__, "USB key watcher on: udev events of usb/usb_device");
    } else {
        log::msg4(kFile, __LINE__, __func__,
                  "USB key watcher off: udev cannot be reached (%s); key events are not seen",
                  error != 0 ? std::strerror(error) : "no reason given");
    }
}

}  // namespace zqt
