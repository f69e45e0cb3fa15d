#include "TokenTestBed.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <system_error>

TokenTestBed::TokenTestBed(const std::string& label,
                           const std::function<void(SoftHsmToken&)>& import) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zqt-p11test-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    token_ = std::make_unique<SoftHsmToken>(dir_ + "/softhsm", label);
    import(*token_);
    serial_ = token_->Serial();
    registry_ =
        std::make_unique<ref::Pkcs11Registry>(std::vector<std::string>{SoftHsmToken::kModule});
}

TokenTestBed::~TokenTestBed() {
    registry_.reset();  // finalises SoftHSM before its files go
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

ref::TokenInfo TokenTestBed::info() const {
    ref::TokenInfo info;
    info.module = SoftHsmToken::kModule;
    info.label = token_->label();
    info.serial = serial_;
    return info;
}

std::unique_ptr<ref::TokenSession> TokenTestBed::LoggedIn() {
    std::unique_ptr<ref::TokenSession> session = registry_->Open(info());
    ref::Secret pin(SoftHsmToken::kPin);
    session->Login(&pin);
    return session;
}

const TestPki& Pki() {
    return TestPki::Shared();
}

ref::X509Ptr LoadCertificate(const TestIdentity& identity) {
    ref::Bytes der = ReadBytes(identity.der);
    const unsigned char* cursor = der.data();
    ref::X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (!cert) {
        throw std::runtime_error("cannot parse " + identity.der);
    }
    return cert;
}

ref::Bytes ReadBytes(const std::string& path) {
    std::string text = ReadFileText(path);
    return ref::Bytes(text.begin(), text.end());
}

void WriteBytes(const std::string& path, ref::ByteView bytes) {
    WriteFileText(path, ref::AsString(bytes));
}

ref::Failure CatchFailure(const std::function<void()>& body) {
    try {
        body();
    } catch (const ref::Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no ref::Failure was thrown";
    return ref::Failure(ref::kOk, "");
}
