#pragma once
// The built libulvoctrl.so, loaded and called exactly as the host does:
// dlopen, the four entry points, one control made by class id, and typed
// arguments. Each test gets a fresh control over a scratch home (store,
// trust folder, configuration), a SoftHSM token and a fake pinentry.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "support/FakePinentry.h"
#include "support/SoftHsmToken.h"
#include "support/TestPki.h"
#include "zqtca/control_module.h"

// One argument: a text (passed as UTF-8, sent as UTF-16), an I4, or a UI4.
struct Ui4 {
    uint32_t value;
};
using Arg = std::variant<std::string, int32_t, Ui4>;

class ControlModule {
  public:
    ControlModule();  // loads the module from ZQT_TEST_REFERENCE_LIB
    ~ControlModule();

    // A control for class_id (nullptr when the module refuses it).
    zqt_control* Create(const char* classId) const { return create_(classId); }
    void Destroy(zqt_control* control) const { destroy_(control); }
    uint32_t AbiVersion() const { return abi_(); }

    // Raw invocation: returns what zqt_control_invoke returns.
    int32_t Invoke(zqt_control* control, int32_t dispid, const std::vector<Arg>& args,
                   uint16_t resultVt, int32_t* number, std::string* text) const;

    // zqt_control_set_caller with the origin (UTF-8, sent as UTF-16).
    int SetCaller(zqt_control* control, const std::string& origin) const;

    static const ControlModule& Shared();

  private:
    void* handle_ = nullptr;
    zqt_module_abi_version_fn abi_ = nullptr;
    zqt_control_create_fn create_ = nullptr;
    zqt_control_destroy_fn destroy_ = nullptr;
    zqt_control_invoke_fn invoke_ = nullptr;
    zqt_control_set_caller_fn setCaller_ = nullptr;
};

// A scratch home for one test: XDG_DATA_HOME, XDG_CONFIG_HOME, ZQT_PINENTRY
// and ZQT_PKCS11_MODULES point into it (the token module only when a token
// is wanted), and the control is made after they are set.
class ControlScope {
  public:
    explicit ControlScope(bool withToken = true);
    ~ControlScope();

    // Calls that must be invocations that ran (zqt_control_invoke returned 0).
    std::string Text(int32_t dispid, const std::vector<Arg>& args = {});
    int32_t Number(int32_t dispid, const std::vector<Arg>& args = {});
    // The last error as the control reports it.
    int32_t LastCode();
    std::string LastMessage();

    // Puts a PKCS#12 of the identity into the software store (with openssl,
    // as a user's older tool would), under the password.
    std::string AddToStore(const TestIdentity& identity, const std::string& password,
                           bool legacy = false);
    // Trusts the test CAs.
    void TrustTestCas();

    // Tells the control which page asks, as the host does before a request.
    void SetCaller(const std::string& origin);

    // Makes a new control (after changing the environment or files).
    void Recreate();

    zqt_control* control() const { return control_; }
    FakePinentry& pinentry() { return *pinentry_; }
    SoftHsmToken* token() { return token_.get(); }
    const std::string& home() const { return home_; }
    std::string StoreDir() const { return home_ + "/data/zqtca/store"; }

  private:
    std::string home_;
    std::unique_ptr<FakePinentry> pinentry_;
    std::unique_ptr<SoftHsmToken> token_;
    zqt_control* control_ = nullptr;
};

// Writes bytes to a file in dir and returns its path (for openssl oracles).
std::string WriteScratch(const std::string& dir, const std::string& name, const std::string& bytes);
std::string Base64DecodeText(const std::string& base64);
// Base64 of any bytes, by the base64 command (an independent encoder).
std::string Base64Of(const std::string& dir, const std::string& bytes);
