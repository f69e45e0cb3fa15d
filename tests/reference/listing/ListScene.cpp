#include "listing/ListScene.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

template <typename T>
T Resolve(void* handle, const char* name) {
    void* address = dlsym(handle, name);
    if (address == nullptr)
        throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<T>(address);
}

constexpr char kCanary = '\x5A';
constexpr size_t kCanaryBytes = 64;

std::string Sha256OfDer(const std::string& derFile) {
    return RunShell("sha256sum " + ShellQuote(derFile) + " | cut -d' ' -f1").output.substr(0, 64);
}

}  // namespace

ListLibrary::ListLibrary() {
    const char* dir = std::getenv("ZQT_TEST_REFERENCE_LIB");
    if (dir == nullptr)
        throw std::runtime_error("ZQT_TEST_REFERENCE_LIB is not set");
    const std::string path = std::string(dir) + "/" + ZQT_CERT_SEAL_LIST_LIBRARY;
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr)
        throw std::runtime_error(dlerror());
    full_ = Resolve<zqt_cert_seal_list_fn>(handle_, ZQT_CERT_SEAL_LIST_EXPORT);
    compact_ = Resolve<zqt_cert_seal_list_fn>(handle_, ZQT_CERT_SEAL_LIST_XEPA_EXPORT);
}

ListLibrary::~ListLibrary() {
    if (handle_ != nullptr)
        dlclose(handle_);
}

std::string ReadByProtocol(zqt_cert_seal_list_fn listExport) {
    const int32_t size = listExport(nullptr);
    EXPECT_GE(size, 0);
    if (size <= 0)
        return {};
    std::vector<char> buffer(static_cast<size_t>(size) + kCanaryBytes, kCanary);
    listExport(buffer.data());
    for (size_t i = static_cast<size_t>(size); i < buffer.size(); ++i) {
        EXPECT_EQ(buffer[i], kCanary) << "written past the announced size at " << i;
    }
    EXPECT_EQ(buffer[static_cast<size_t>(size) - 1], '\0') << "the text ends before its NUL";
    return std::string(buffer.data());
}

TestIdentity MakeIdentity(const std::string& dir, const std::string& commonName) {
    TestIdentity id;
    id.key = dir + "/named.key";
    id.cert = dir + "/named.pem";
    id.der = dir + "/named.der";
    const CommandResult made = RunShell(
        "openssl req -x509 -newkey rsa:2048 -nodes -days 30 -utf8 -keyout " + ShellQuote(id.key) +
        " -out " + ShellQuote(id.cert) + " -subj " + ShellQuote("/CN=" + commonName) +
        " && openssl x509 -in " + ShellQuote(id.cert) + " -outform DER -out " + ShellQuote(id.der));
    if (made.exitCode != 0)
        throw std::runtime_error("openssl req: " + made.output);
    std::string serial =
        RunShell("openssl x509 -in " + ShellQuote(id.cert) + " -noout -serial").output;
    serial = serial.substr(serial.find('=') + 1);
    id.serial = serial.substr(0, serial.find_first_of("\r\n"));
    id.subject = "CN=" + commonName;
    return id;
}

void PutTokenSeal(ControlScope& scope, const std::string& name, const std::string& certSn,
                  const std::string& data) {
    const std::string record = "{\"v\":1,\"name\":\"" + name +
                               "\",\"type\":1,\"format\":\"png\",\"certSn\":\"" + certSn +
                               "\",\"data\":\"" + Base64Of(scope.home(), data) + "\"}";
    const std::string file = WriteScratch(scope.home(), "seal.json", record);
    const CommandResult written = RunShell(
        scope.token()->ToolPrefix() + " --write-object " + ShellQuote(file) +
        " --type data --label " + ShellQuote(name) + " --application-label zqtca.seal 2>&1");
    if (written.exitCode != 0)
        throw std::runtime_error("pkcs11-tool: " + written.output);
}

void AddCertificateOnlyToStore(ControlScope& scope, const TestIdentity& identity) {
    RunShell("mkdir -p -m 0700 " + ShellQuote(scope.StoreDir()));
    const std::string path = scope.StoreDir() + "/" + Sha256OfDer(identity.der) + ".p12";
    const CommandResult made =
        RunShell("openssl pkcs12 -export -nokeys -certpbe NONE -passout pass:x -in " +
                 ShellQuote(identity.cert) + " -out " + ShellQuote(path) + " && chmod 0600 " +
                 ShellQuote(path));
    if (made.exitCode != 0)
        throw std::runtime_error("openssl pkcs12: " + made.output);
}

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}
