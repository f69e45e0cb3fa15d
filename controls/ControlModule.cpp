#include "controls/ControlModule.h"

namespace zqt {

std::unique_ptr<ControlModule> ControlModule::Load(const char* fileName) {
    LibraryHandle library = OpenModuleLibrary(fileName);
    if (!library) {
        return nullptr;
    }
    auto abiVersion = ResolveExport<zqt_module_abi_version_fn>(library, "zqt_module_abi_version");
    auto create = ResolveExport<zqt_control_create_fn>(library, "zqt_control_create");
    auto destroy = ResolveExport<zqt_control_destroy_fn>(library, "zqt_control_destroy");
    auto invoke = ResolveExport<zqt_control_invoke_fn>(library, "zqt_control_invoke");
    if (abiVersion == nullptr || create == nullptr || destroy == nullptr || invoke == nullptr) {
        return nullptr;
    }
    if (abiVersion() != ZQT_CONTROL_ABI_VERSION) {
        return nullptr;
    }
    std::unique_ptr<ControlModule> module(new ControlModule());
    module->library_ = std::move(library);
    module->create_ = create;
    module->destroy_ = destroy;
    module->invoke_ = invoke;
    // Optional: older modules lack it and are simply not told who asks.
    module->setCaller_ =
        ResolveExport<zqt_control_set_caller_fn>(module->library_, "zqt_control_set_caller");
    return module;
}

}  // namespace zqt
