#include "control/ControlHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "support/TextConversion.h"

namespace {

std::u16string Utf16(const std::string& utf8) {
    return zqt::Utf8ToUtf16(utf8);
}

std::string Utf8(const uint16_t* str, uint32_t len) {
    return zqt::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(str), len));
}

template <typename T>
T Resolve(void* handle, const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<T>(address);
}

}  // namespace

ControlModule::ControlModule() {
    const char* dir = std::getenv("ZQT_TEST_REFERENCE_LIB");
    if (dir == nullptr)
        throw std::runtime_error("ZQT_TEST_REFERENCE_LIB is not set");
    const std::string path = std::string(dir) + "/libulvoctrl.so";
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        throw std::runtime_error(dlerror());
    abi_ = Resolve<zqt_module_abi_version_fn>(handle_, "zqt_module_abi_version");
    create_ = Resolve<zqt_control_create_fn>(handle_, "zqt_control_create");
    destroy_ = Resolve<zqt_control_destroy_fn>(handle_, "zqt_control_destroy");
    invoke_ = Resolve<zqt_control_invoke_fn>(handle_, "zqt_control_invoke");
    setCaller_ = Resolve<zqt_control_set_caller_fn>(handle_, "zqt_control_set_caller");
}

int ControlModule::SetCaller(zqt_control* control, const std::string& origin) const {
    const std::u16string units = Utf16(origin);
    return setCaller_(control, reinterpret_cast<const uint16_t*>(units.data()),
                      static_cast<uint32_t>(units.size()));
}

ControlModule::~ControlModule() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

const ControlModule& ControlModule::Shared() {
    static const ControlModule module;
    return module;
}

int32_t ControlModule::Invoke(zqt_control* control, int32_t dispid, const std::vector<Arg>& args,
                              uint16_t resultVt, int32_t* number, std::string* text) const {
    std::vector<std::u16string> strings;
    strings.reserve(args.size());
    std::vector<zqt_value> values(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        zqt_value& v = values[i];
        if (const auto* s = std::get_if<std::string>(&args[i])) {
            strings.push_back(Utf16(*s));
            v.vt = ZQT_VT_BSTR;
            v.str = reinterpret_cast<const uint16_t*>(strings.back().data());
            v.len = static_cast<uint32_t>(strings.back().size());
        } else if (const auto* n = std::get_if<int32_t>(&args[i])) {
            v.vt = ZQT_VT_I4;
            v.i4 = *n;
        } else {
            v.vt = ZQT_VT_UI4;
            v.ui4 = std::get<Ui4>(args[i]).value;
        }
    }
    zqt_value result{};
    result.vt = resultVt;
    const int32_t rc = invoke_(control, dispid, values.empty() ? nullptr : values.data(),
                               static_cast<uint32_t>(values.size()), &result);
    if (rc == 0) {
        if (number != nullptr)
            *number = result.i4;
        if (text != nullptr)
            *text = Utf8(result.str, result.len);
    }
    return rc;
}

ControlScope::ControlScope(bool withToken) {
    char pattern[] = "/tmp/zqt-ref-control-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    home_ = pattern;
    setenv("XDG_DATA_HOME", (home_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    setenv("ZQT_REF_CONFIG", (home_ + "/config/zqtca/reference.conf").c_str(), 1);
    pinentry_ = std::make_unique<FakePinentry>(home_ + "/pinentry");
    setenv("ZQT_PINENTRY", pinentry_->program().c_str(), 1);
    if (withToken) {
        token_ = std::make_unique<SoftHsmToken>(home_ + "/softhsm", "Test Token");
        setenv("ZQT_PKCS11_MODULES", SoftHsmToken::kModule, 1);
    } else {
        setenv("ZQT_PKCS11_MODULES", "", 1);
    }
    Recreate();
}

ControlScope::~ControlScope() {
    if (control_ != nullptr)
        ControlModule::Shared().Destroy(control_);
    RunShell("rm -rf " + ShellQuote(home_));
}

void ControlScope::SetCaller(const std::string& origin) {
    ASSERT_EQ(ControlModule::Shared().SetCaller(control_, origin), 0);
}

void ControlScope::Recreate() {
    if (control_ != nullptr)
        ControlModule::Shared().Destroy(control_);
    control_ = ControlModule::Shared().Create("ulvo.ctrl");
    if (control_ == nullptr)
        throw std::runtime_error("the module made no control");
}

std::string ControlScope::Text(int32_t dispid, const std::vector<Arg>& args) {
    std::string text;
    const int32_t rc =
        ControlModule::Shared().Invoke(control_, dispid, args, ZQT_VT_BSTR, nullptr, &text);
    EXPECT_EQ(rc, 0) << "invocation of " << dispid << " failed";
    return text;
}

int32_t ControlScope::Number(int32_t dispid, const std::vector<Arg>& args) {
    int32_t number = -999;
    const int32_t rc =
        ControlModule::Shared().Invoke(control_, dispid, args, ZQT_VT_I4, &number, nullptr);
    EXPECT_EQ(rc, 0) << "invocation of " << dispid << " failed";
    return number;
}

int32_t ControlScope::LastCode() {
    return Number(31);
}
std::string ControlScope::LastMessage() {
    return Text(32);
}

std::string ControlScope::AddToStore(const TestIdentity& identity, const std::string& password,
                                     bool legacy) {
    const std::string p12 = TestPki::Shared().Pkcs12(identity, password, legacy);
    RunShell("mkdir -p -m 0700 " + ShellQuote(StoreDir()));
    const CommandResult hash = RunShell("openssl x509 -in " + ShellQuote(identity.cert) +
                                        " -outform DER | sha256sum | cut -d' ' -f1");
    std::string name = hash.output.substr(0, 64);
    const std::string path = StoreDir() + "/" + name + ".p12";
    RunShell("cp " + ShellQuote(p12) + " " + ShellQuote(path) + " && chmod 0600 " +
             ShellQuote(path));
    return path;
}

void ControlScope::TrustTestCas() {
    const std::string trust = home_ + "/config/zqtca/trust";
    RunShell("mkdir -p " + ShellQuote(trust) + " && cp " +
             ShellQuote(TestPki::Shared().TrustDir()) + "/*.pem " + ShellQuote(trust) + "/");
    Recreate();
}

std::string WriteScratch(const std::string& dir, const std::string& name,
                         const std::string& bytes) {
    const std::string path = dir + "/" + name;
    WriteFileText(path, bytes);
    return path;
}

std::string Base64DecodeText(const std::string& base64) {
    std::string out;
    int value = 0;
    int bits = -8;
    for (char c : base64) {
        int d;
        if (c >= 'A' && c <= 'Z')
            d = c - 'A';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            d = c - '0' + 52;
        else if (c == '+')
            d = 62;
        else if (c == '/')
            d = 63;
        else
            continue;
        value = ((value << 6) | d) & 0xFFFFFF;
        bits += 6;
        if (bits >= 0) {
            out += static_cast<char>((value >> bits) & 0xFF);
            bits -= 8;
        }
    }
    return out;
}

std::string Base64Of(const std::string& dir, const std::string& bytes) {
    const std::string path = WriteScratch(dir, "to-base64.bin", bytes);
    return RunShell("base64 -w0 " + ShellQuote(path)).output;
}
