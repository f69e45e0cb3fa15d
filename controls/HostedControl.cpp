#include "controls/HostedControl.h"

#include <exception>

#include "controls/ControlModule.h"
#include "controls/ControlValues.h"

namespace {

struct ControlDestroyer {
    const zqt::ControlModule* module;
    void operator()(zqt_control* control) const noexcept { module->DestroyControl(control); }
};

}  // namespace

struct HostedControl::Loaded {
    // Declared first so that the control is destroyed before its library closes.
    std::unique_ptr<zqt::ControlModule> module;
    std::unique_ptr<zqt_control, ControlDestroyer> control;

    static std::unique_ptr<Loaded> Open(const char* moduleName, const char* classId) {
        auto loaded = std::make_unique<Loaded>();
        loaded->module = zqt::ControlModule::Load(moduleName);
        if (!loaded->module) {
            return nullptr;
        }
        zqt_control* control = loaded->module->CreateControl(classId);
        if (control == nullptr) {
            return nullptr;
        }
        loaded->control = std::unique_ptr<zqt_control, ControlDestroyer>(
            control, ControlDestroyer{loaded->module.get()});
        return loaded;
    }
};

HostedControl::HostedControl(const char* moduleName, const char* classId)
    : moduleName_(moduleName), classId_(classId) {}

HostedControl::~HostedControl() {
    Release();
}

bool HostedControl::Create() {
    std::lock_guard lock(mutex_);
    if (!attempted_) {
        attempted_ = true;
        try {
            loaded_ = Loaded::Open(moduleName_, classId_);
        } catch (const std::exception&) {
            loaded_.reset();  // out of memory while loading: the control is missing
        }
    }
    return loaded_ != nullptr;
}

bool HostedControl::IsCreated() const {
    std::lock_guard lock(mutex_);
    return loaded_ != nullptr;
}

void HostedControl::Release() {
    std::lock_guard lock(mutex_);
    loaded_.reset();
    attempted_ = false;
}

ControlResult HostedControl::Invoke(int32_t dispid, ReturnType returnType,
                                    std::span<const ControlArg> args) {
    std::vector<zqt_value> moduleArgs = zqt::ToModuleArgs(args);
    std::lock_guard lock(mutex_);
    if (!loaded_) {
        if (returnType == ReturnType::BSTR) {
            return std::u16string();
        }
        throw ControlInvocationError(std::string("control not created: ") + classId_);
    }
    zqt_value result = zqt::EmptyResult(returnType);
    int32_t code = loaded_->module->Invoke(loaded_->control.get(), dispid, moduleArgs.data(),
                                           static_cast<uint32_t>(moduleArgs.size()), &result);
    if (code != 0) {
        throw ControlInvocationError("dispatch id " + std::to_string(dispid) +
                                     " failed with code " + std::to_string(code));
    }
    // Copied while the lock is held: the module's string lives until its next call.
    return zqt::TakeResult(dispid, returnType, result);
}

void HostedControl::SetCaller(std::u16string_view origin) {
    std::lock_guard lock(mutex_);
    if (loaded_) {
        loaded_->module->SetCaller(loaded_->control.get(), origin);
    }
}

int32_t HostedControl::InvokeNumber(int32_t dispid, std::initializer_list<ControlArg> args) {
    return std::get<int32_t>(
        Invoke(dispid, ReturnType::I4, std::span<const ControlArg>(args.begin(), args.size())));
}

std::u16string HostedControl::InvokeText(int32_t dispid, std::initializer_list<ControlArg> args) {
    return std::get<std::u16string>(
        Invoke(dispid, ReturnType::BSTR, std::span<const ControlArg>(args.begin(), args.size())));
}

CUlvoctrlctrl& CUlvoctrlctrl::Instance() {
    static CUlvoctrlctrl instance;
    return instance;
}

CUlvocertenrollctrl& CUlvocertenrollctrl::Instance() {
    static CUlvocertenrollctrl instance;
    return instance;
}
