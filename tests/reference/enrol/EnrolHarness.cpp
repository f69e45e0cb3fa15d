#include "enrol/EnrolHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <stdexcept>

#include "support/TextConversion.h"

namespace {

template <typename T>
T Resolve(void* handle, const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<T>(address);
}

std::string Utf8(const uint16_t* str, uint32_t len) {
    return zqt::Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(str), len));
}

constexpr const char* kExtensions = R"([leaf]
basicConstraints = CA:FALSE
keyUsage = critical,${ENV::ZQT_USAGE}
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
)";

}  // namespace

LoadedModule::LoadedModule(const std::string& fileName) {
    const char* dir = std::getenv("ZQT_TEST_REFERENCE_LIB");
    if (dir == nullptr)
        throw std::runtime_error("ZQT_TEST_REFERENCE_LIB is not set");
    const std::string path = std::string(dir) + "/" + fileName;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        throw std::runtime_error(dlerror());
    abi_ = Resolve<zqt_module_abi_version_fn>(handle_, "zqt_module_abi_version");
    create_ = Resolve<zqt_control_create_fn>(handle_, "zqt_control_create");
    destroy_ = Resolve<zqt_control_destroy_fn>(handle_, "zqt_control_destroy");
    invoke_ = Resolve<zqt_control_invoke_fn>(handle_, "zqt_control_invoke");
    setCaller_ = Resolve<zqt_control_set_caller_fn>(handle_, "zqt_control_set_caller");
}

int LoadedModule::SetCaller(zqt_control* control, const std::string& origin) const {
    const std::u16string units = zqt::Utf8ToUtf16(origin);
    return setCaller_(control, reinterpret_cast<const uint16_t*>(units.data()),
                      static_cast<uint32_t>(units.size()));
}

LoadedModule::~LoadedModule() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

const LoadedModule& LoadedModule::Enrolment() {
    static const LoadedModule module("libulvocertenroll.so");
    return module;
}

const LoadedModule& LoadedModule::Main() {
    static const LoadedModule module("libulvoctrl.so");
    return module;
}

int32_t LoadedModule::InvokeRaw(zqt_control* control, int32_t dispid,
                                const std::vector<zqt_value>& args, uint16_t resultVt) const {
    zqt_value result{};
    result.vt = resultVt;
    return invoke_(control, dispid, args.empty() ? nullptr : args.data(),
                   static_cast<uint32_t>(args.size()), &result);
}

int32_t LoadedModule::Invoke(zqt_control* control, int32_t dispid,
                             const std::vector<std::string>& args, uint16_t resultVt,
                             int32_t* number, std::string* text) const {
    std::vector<std::u16string> strings;
    strings.reserve(args.size());
    std::vector<zqt_value> values(args.size());
    for (size_t i = 0; i < args.size(); ++i) {
        strings.push_back(zqt::Utf8ToUtf16(args[i]));
        values[i].vt = ZQT_VT_BSTR;
        values[i].str = reinterpret_cast<const uint16_t*>(strings.back().data());
        values[i].len = static_cast<uint32_t>(strings.back().size());
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

ControlHandle::ControlHandle(const LoadedModule& module, const char* classId)
    : module_(module), control_(module.Create(classId)) {
    if (control_ == nullptr)
        throw std::runtime_error(std::string("the module made no control ") + classId);
}

ControlHandle::~ControlHandle() {
    module_.Destroy(control_);
}

std::string ControlHandle::Text(int32_t dispid, const std::vector<std::string>& args) {
    std::string text;
    EXPECT_EQ(module_.Invoke(control_, dispid, args, ZQT_VT_BSTR, nullptr, &text), 0)
        << "invocation of " << dispid << " failed";
    return text;
}

int32_t ControlHandle::Number(int32_t dispid, const std::vector<std::string>& args) {
    int32_t number = -999;
    EXPECT_EQ(module_.Invoke(control_, dispid, args, ZQT_VT_I4, &number, nullptr), 0)
        << "invocation of " << dispid << " failed";
    return number;
}

EnrolScope::EnrolScope(bool withToken) {
    char pattern[] = "/tmp/zqt-ref-enrol-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    home_ = pattern;
    setenv("XDG_DATA_HOME", (home_ + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home_ + "/config").c_str(), 1);
    setenv("ZQT_REF_CONFIG", (home_ + "/config/zqtca/reference.conf").c_str(), 1);
    pinentry_ = std::make_unique<FakePinentry>(home_ + "/pinentry");
    setenv("ZQT_PINENTRY", pinentry_->program().c_str(), 1);
    if (withToken) {
        token_ = std::make_unique<SoftHsmToken>(home_ + "/softhsm", "Enrol Token");
        setenv("ZQT_PKCS11_MODULES", SoftHsmToken::kModule, 1);
    } else {
        setenv("ZQT_PKCS11_MODULES", "", 1);
    }
    // The main control checks chains: it trusts the test CAs.
    RunShell("mkdir -p " + ShellQuote(TrustDir()) + " && cp " +
             ShellQuote(TestPki::Shared().TrustDir()) + "/*.pem " + ShellQuote(TrustDir()) + "/");
    enrol_ = std::make_unique<ControlHandle>(LoadedModule::Enrolment(), "ulvo.certenroll");
}

EnrolScope::~EnrolScope() {
    main_.reset();
    enrol_.reset();
    RunShell("rm -rf " + ShellQuote(home_));
}

ControlHandle& EnrolScope::main() {
    if (!main_)
        main_ = std::make_unique<ControlHandle>(LoadedModule::Main(), "ulvo.ctrl");
    return *main_;
}

std::string EnrolScope::TokenName() const {
    return token_->label() + " (" + token_->Serial() + ")";
}

std::string EnrolScope::ListObjects() const {
    return RunShell(token_->ToolPrefix() + " --list-objects").output;
}

std::string EnrolScope::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = home_ + "/" + name;
    WriteFileText(path, bytes);
    return path;
}

std::string VerifyRequest(EnrolScope& scope, const std::string& requestBase64, bool sm2) {
    const std::string der = scope.Write("request.der", Base64Decode(requestBase64));
    const CommandResult result =
        RunShell("openssl req -verify -noout -text -inform DER -in " + ShellQuote(der) +
                 (sm2 ? " -vfyopt distid:1234567812345678" : ""));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("verify OK"), std::string::npos) << result.output;
    return result.output;
}

Issued Issue(EnrolScope& scope, const std::string& requestBase64, bool sm2,
             const std::string& usage) {
    const TestPki& pki = TestPki::Shared();
    const TestIdentity& ca = sm2 ? pki.sm2Ca : pki.rsaCa;
    const std::string der = scope.Write("issue.der", Base64Decode(requestBase64));
    const std::string ext = scope.Write("issue.cnf", kExtensions);
    static std::mt19937_64 random(std::random_device{}());
    char serial[32];
    // 16 hex digits without a leading zero, positive: as openssl prints it.
    std::snprintf(serial, sizeof serial, "%016llX",
                  static_cast<unsigned long long>((random() & 0x6FFFFFFFFFFFFFFFull) |
                                                  0x1000000000000000ull));
    Issued issued;
    issued.pem = scope.home() + "/issued-" + serial + ".pem";
    issued.serial = serial;
    const std::string gm = " -sm3 -sigopt distid:1234567812345678 -vfyopt distid:1234567812345678";
    const CommandResult result =
        RunShell("ZQT_USAGE=" + usage + " openssl x509 -req -inform DER -in " + ShellQuote(der) +
                 " -CA " + ShellQuote(ca.cert) + " -CAkey " + ShellQuote(ca.key) +
                 " -set_serial 0x" + serial + " -days 30 -extfile " + ShellQuote(ext) +
                 " -extensions leaf" + (sm2 ? gm : "") + " -out " + ShellQuote(issued.pem));
    EXPECT_EQ(result.exitCode, 0) << result.output;
    issued.base64 =
        RunShell("openssl x509 -in " + ShellQuote(issued.pem) + " -outform DER | base64 -w0")
            .output;
    return issued;
}

Issued EnrolOne(EnrolScope& scope, const std::string& device, const std::string& keySpec,
                const std::string& subject) {
    ControlHandle& enrol = scope.enrol();
    EXPECT_EQ(enrol.Number(kSetUSBKeyType, {device, keySpec, subject}), 0)
        << enrol.Text(kLastMessage);
    const std::string request = enrol.Text(kCreateP10);
    EXPECT_FALSE(request.empty()) << enrol.Text(kLastMessage);
    const Issued issued = Issue(scope, request);
    EXPECT_EQ(enrol.Number(kInstall, {issued.base64, "", ""}), 0) << enrol.Text(kLastMessage);
    return issued;
}

std::string Base64File(const std::string& path) {
    return RunShell("base64 -w0 " + ShellQuote(path)).output;
}

std::string Base64Decode(const std::string& text) {
    std::string out;
    int value = 0;
    int bits = -8;
    for (char c : text) {
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

namespace {

// One object of a pkcs11-tool listing: its heading and "name: value" lines.
struct ListedObject {
    std::string heading;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string Field(const std::string& name) const {
        for (const auto& [key, value] : fields) {
            if (key == name)
                return value;
        }
        return "";
    }
};

std::vector<ListedObject> ParseListing(const std::string& listing) {
    std::vector<ListedObject> objects;
    size_t start = 0;
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos)
            end = listing.size();
        const std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;
        if (line[0] != ' ') {
            objects.push_back({line, {}});
        } else if (!objects.empty()) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos)
                continue;
            const size_t first = line.find_first_not_of(' ');
            const size_t value = line.find_first_not_of(' ', colon + 1);
            objects.back().fields.emplace_back(
                line.substr(first, colon - first),
                value == std::string::npos ? "" : line.substr(value));
        }
    }
    return objects;
}

}  // namespace

std::string PrivateKeyUsage(const std::string& listing, const std::string& serial) {
    const std::vector<ListedObject> objects = ParseListing(listing);
    for (const ListedObject& cert : objects) {
        if (cert.heading.rfind("Certificate Object", 0) != 0 || cert.Field("serial") != serial)
            continue;
        for (const ListedObject& key : objects) {
            if (key.heading.rfind("Private Key Object", 0) == 0 &&
                key.Field("ID") == cert.Field("ID"))
                return key.Field("Usage");
        }
    }
    return "";
}

int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size()))
        ++count;
    return count;
}
