#pragma once
// What the list tests share: the built list library called export by
// export, identities with names outside ASCII, and seal records put on the
// token with pkcs11-tool as another tool would.

#include <cstdint>
#include <string>

#include "control/ControlHarness.h"
#include "zqtca/cert_seal_list.h"

// The list library loaded by its path, with both exports.
class ListLibrary {
  public:
    ListLibrary();
    ~ListLibrary();
    ListLibrary(const ListLibrary&) = delete;
    ListLibrary& operator=(const ListLibrary&) = delete;

    zqt_cert_seal_list_fn full() const { return full_; }
    zqt_cert_seal_list_fn compact() const { return compact_; }

  private:
    void* handle_ = nullptr;
    zqt_cert_seal_list_fn full_ = nullptr;
    zqt_cert_seal_list_fn compact_ = nullptr;
};

// One read by the buffer protocol, checking that the fill call writes a
// NUL-terminated text of exactly the announced size and nothing past it.
// "" when the size call answers 0.
std::string ReadByProtocol(zqt_cert_seal_list_fn listExport);

// A self-signed RSA identity with this common name (UTF-8) in dir.
TestIdentity MakeIdentity(const std::string& dir, const std::string& commonName);

// A seal record written to the scope's token as a public data object.
void PutTokenSeal(ControlScope& scope, const std::string& name, const std::string& certSn,
                  const std::string& data);

// A PKCS#12 of the certificate alone (no key) put into the scope's store.
void AddCertificateOnlyToStore(ControlScope& scope, const TestIdentity& identity);

bool IsAscii(const std::string& text);
