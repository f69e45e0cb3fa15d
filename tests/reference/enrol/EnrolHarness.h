#pragma once
// The built enrolment module and the main control, loaded and called as
// the host does (dlopen, the four entry points, typed arguments), over one
// scratch home: store, trust folder, configuration, a SoftHSM token and a
// fake pinentry. Also the test CA that issues what the module requested.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/FakePinentry.h"
#include "support/SoftHsmToken.h"
#include "support/TestPki.h"
#include "zqtca/control_module.h"

// One module file, its entry points resolved once.
class LoadedModule {
  public:
    explicit LoadedModule(const std::string& fileName);  // from ZQT_TEST_REFERENCE_LIB
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    zqt_control* Create(const char* classId) const { return create_(classId); }
    void Destroy(zqt_control* control) const { destroy_(control); }
    uint32_t AbiVersion() const { return abi_(); }

    // Raw invocation with string arguments (UTF-8 here, UTF-16 on the wire)
    // or, for shape tests, arbitrary values. Returns zqt_control_invoke's value.
    int32_t Invoke(zqt_control* control, int32_t dispid, const std::vector<std::string>& args,
                   uint16_t resultVt, int32_t* number, std::string* text) const;
    int32_t InvokeRaw(zqt_control* control, int32_t dispid, const std::vector<zqt_value>& args,
                      uint16_t resultVt) const;

    // zqt_control_set_caller with the origin (UTF-8 here, UTF-16 on the wire).
    int SetCaller(zqt_control* control, const std::string& origin) const;

    static const LoadedModule& Enrolment();
    static const LoadedModule& Main();

  private:
    void* handle_ = nullptr;
    zqt_module_abi_version_fn abi_ = nullptr;
    zqt_control_create_fn create_ = nullptr;
    zqt_control_destroy_fn destroy_ = nullptr;
    zqt_control_invoke_fn invoke_ = nullptr;
    zqt_control_set_caller_fn setCaller_ = nullptr;
};

// One control of a module; calls that must be invocations that ran.
class ControlHandle {
  public:
    ControlHandle(const LoadedModule& module, const char* classId);
    ~ControlHandle();
    ControlHandle(const ControlHandle&) = delete;
    ControlHandle& operator=(const ControlHandle&) = delete;

    std::string Text(int32_t dispid, const std::vector<std::string>& args = {});
    int32_t Number(int32_t dispid, const std::vector<std::string>& args = {});
    zqt_control* get() const { return control_; }

  private:
    const LoadedModule& module_;
    zqt_control* control_;
};

// Dispatch ids of the enrolment control.
enum EnrolId : int32_t {
    kInitialize = 1,
    kInitDevNameList = 2,
    kGetFirstDevName = 3,
    kSetUSBKeyType = 4,
    kCreateP10 = 5,
    kCreateDoubleP10 = 6,
    kInstall = 7,
    kLastCode = 8,
    kLastMessage = 9,
    kSetUSBKeyTypeEx = 10,
    kDevInfoList = 11,
    kInstallSeal = 12,
    kDevInfoListEx = 13,
};

class EnrolScope {
  public:
    explicit EnrolScope(bool withToken = true);
    ~EnrolScope();

    ControlHandle& enrol() { return *enrol_; }
    // The main control, made on first use (after the enrolment wrote files).
    ControlHandle& main();
    FakePinentry& pinentry() { return *pinentry_; }
    SoftHsmToken* token() { return token_.get(); }
    const std::string& home() const { return home_; }
    std::string TokenName() const;  // "<label> (<serial>)"
    std::string StoreDir() const { return home_ + "/data/zqtca/store"; }
    std::string TrustDir() const { return home_ + "/config/zqtca/trust"; }

    // The objects on the token as pkcs11-tool lists them after login.
    std::string ListObjects() const;

    // A file in the scratch home.
    std::string Write(const std::string& name, const std::string& bytes) const;

  private:
    std::string home_;
    std::unique_ptr<FakePinentry> pinentry_;
    std::unique_ptr<SoftHsmToken> token_;
    std::unique_ptr<ControlHandle> enrol_;
    std::unique_ptr<ControlHandle> main_;
};

// The issuing side, done with the openssl command line.
struct Issued {
    std::string pem;     // certificate file (PEM)
    std::string base64;  // Base64 DER
    std::string serial;  // upper-case hex
};
// Checks the request's own signature (SM2 with the GM id); the output of
// `openssl req -verify -text`, or a test failure.
std::string VerifyRequest(EnrolScope& scope, const std::string& requestBase64, bool sm2 = false);
// Issues a certificate for the request from the test RSA CA (or SM2 CA).
Issued Issue(EnrolScope& scope, const std::string& requestBase64, bool sm2 = false,
             const std::string& usage = "digitalSignature,nonRepudiation");

// A whole enrolment of one signing key on the device (the pinentry must
// already answer): choose, request, issue, install. Failures are test
// failures; returns what was issued.
Issued EnrolOne(EnrolScope& scope, const std::string& device, const std::string& keySpec,
                const std::string& subject);

// Base64 of bytes (by the base64 command) and back.
std::string Base64File(const std::string& path);
std::string Base64Decode(const std::string& text);

// From a pkcs11-tool listing: the "Usage:" of the private key that shares
// its CKA_ID with the certificate of this serial ("" when there is none).
std::string PrivateKeyUsage(const std::string& listing, const std::string& serial);

// Counts non-overlapping occurrences.
int Count(const std::string& text, const std::string& part);
