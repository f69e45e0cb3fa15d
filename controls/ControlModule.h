#pragma once
// A control module loaded once: its library, its four entry points (and the
// optional fifth) resolved at load time, and the ABI version checked before
// anything else is called.

#include <memory>
#include <string_view>

#include "controls/SharedLibrary.h"
#include "zqtca/control_module.h"

namespace zqt {

class ControlModule {
  public:
    // Null when the library cannot be opened, lacks an entry point or was
    // built for another interface version.
    static std::unique_ptr<ControlModule> Load(const char* fileName);

    // Null when the module cannot make a control of classId.
    zqt_control* CreateControl(const char* classId) const { return create_(classId); }
    void DestroyControl(zqt_control* control) const noexcept { destroy_(control); }
    int32_t Invoke(zqt_control* control, int32_t dispid, const zqt_value* args, uint32_t argc,
                   zqt_value* result) const {
        return invoke_(control, dispid, args, argc, result);
    }
    // Tells the control the origin of the request about to run; nothing when
    // the module has no zqt_control_set_caller.
    void SetCaller(zqt_control* control, std::u16string_view origin) const {
        if (setCaller_ != nullptr) {
            setCaller_(control, reinterpret_cast<const uint16_t*>(origin.data()),
                       static_cast<uint32_t>(origin.size()));
        }
    }

  private:
    ControlModule() = default;

    LibraryHandle library_;
    zqt_control_create_fn create_ = nullptr;
    zqt_control_destroy_fn destroy_ = nullptr;
    zqt_control_invoke_fn invoke_ = nullptr;
    zqt_control_set_caller_fn setCaller_ = nullptr;  // optional
};

}  // namespace zqt
