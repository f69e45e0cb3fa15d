#pragma once
// Keys and certificates for the reference control's tests, made once per
// test process with the openssl command line in a scratch folder: an RSA CA
// issuing RSA and P-256 leaves, an SM2 CA issuing an SM2 leaf with the GM
// id, an expired RSA leaf and a self-signed leaf nobody trusts.

#include <string>

struct TestIdentity {
    std::string key;      // PEM private key file
    std::string cert;     // PEM certificate file
    std::string der;      // DER certificate file
    std::string serial;   // upper-case hex, as openssl x509 -serial prints it
    std::string subject;  // e.g. "CN=rsa leaf,O=zqtca test"
};

struct TestPki {
    std::string dir;
    TestIdentity rsaCa, rsa, ec, sm2Ca, sm2, expired, untrusted;

    // Made on first call, removed at exit.
    static const TestPki& Shared();

    // A PKCS#12 of the identity under the password, written into the scratch
    // folder (legacy: RC2-40 as older tools made them). Returns its path.
    std::string Pkcs12(const TestIdentity& identity, const std::string& password,
                       bool legacy = false) const;

    // A folder holding the two CA certificates as PEM files (a trust dir).
    std::string TrustDir() const;
};

struct CommandResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// Runs a shell command line; the output is captured.
CommandResult RunShell(const std::string& command);

// Reads and writes whole files.
std::string ReadFileText(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);

// Single-quotes a value for the shell.
std::string ShellQuote(const std::string& text);
