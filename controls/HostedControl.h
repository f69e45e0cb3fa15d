#pragma once
// A hosted control: a control module loaded from a shared library and the one
// control it made by class id, invoked by dispatch id with typed arguments.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

enum class ReturnType { I4, BSTR };

// One argument: BSTR (text), I4 (signed) or UI4 (unsigned), in that variant order.
using ControlArg = std::variant<std::u16string_view, int32_t, uint32_t>;
using ControlResult = std::variant<int32_t, std::u16string>;

// Raised when an invocation fails; RunProcess turns it into the result "-1".
class ControlInvocationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class HostedControl {
  public:
    HostedControl(const char* moduleName, const char* classId);
    virtual ~HostedControl();
    HostedControl(const HostedControl&) = delete;
    HostedControl& operator=(const HostedControl&) = delete;

    // Loads the module (bare name first, then beside the executable), checks
    // its ABI version and creates the control. Runs once; later calls return
    // the first outcome until Release.
    bool Create();
    bool IsCreated() const;
    // Destroys the control and unloads the module; safe to call twice.
    void Release();

    // The one typed invocation. Throws ControlInvocationError when the module
    // reports a failure, and for an I4 call on a control that was not created;
    // a BSTR call on such a control returns the empty text.
    ControlResult Invoke(int32_t dispid, ReturnType returnType, std::span<const ControlArg> args);

    // Tells the control which page the next request comes from (empty: none
    // given). Nothing happens when the control is missing or its module does
    // not take a caller.
    void SetCaller(std::u16string_view origin);

    int32_t InvokeNumber(int32_t dispid, std::initializer_list<ControlArg> args = {});
    std::u16string InvokeText(int32_t dispid, std::initializer_list<ControlArg> args = {});

    const char* ModuleName() const { return moduleName_; }
    const char* ClassId() const { return classId_; }

  private:
    struct Loaded;
    const char* moduleName_;
    const char* classId_;
    // Serialises Create, Release and Invoke, so that a control is never
    // destroyed or unloaded under a running invocation.
    mutable std::mutex mutex_;
    bool attempted_ = false;          // guarded by mutex_
    std::unique_ptr<Loaded> loaded_;  // guarded by mutex_
};

// The main control: signing, verification, envelopes, certificates, seals.
class CUlvoctrlctrl : public HostedControl {
  public:
    CUlvoctrlctrl() : HostedControl("libulvoctrl.so", "ulvo.ctrl") {}
    static CUlvoctrlctrl& Instance();
};

// The enrolment control: devices, certificate requests and installation.
class CUlvocertenrollctrl : public HostedControl {
  public:
    CUlvocertenrollctrl() : HostedControl("libulvocertenroll.so", "ulvo.certenroll") {}
    static CUlvocertenrollctrl& Instance();
};
