#pragma once
// Where the module keeps and finds things, and the user's settings.
// Read once per control from $XDG_CONFIG_HOME/zqtca/reference.conf
// (or ZQT_REF_CONFIG), with the environment overriding for tests.

#include <string>
#include <vector>

namespace ref {

struct Config {
    std::string storeDir;    // PKCS#12 identities: $XDG_DATA_HOME/zqtca/store
    std::string sealDir;     // seal records: $XDG_DATA_HOME/zqtca/seals
    std::string licenceDir;  // licence data of software certificates: $XDG_DATA_HOME/zqtca/licence
    std::string filesDir;    // the only folder file commands touch
    std::string trustDir;    // extra trust anchors (*.pem): $XDG_CONFIG_HOME/zqtca/trust
    std::string systemTrustFile = "/etc/ssl/certs/ca-certificates.crt";
    std::string pinentry = "/usr/bin/pinentry";
    std::vector<std::string> pkcs11Modules;  // used instead of p11-kit's registry...
    bool pkcs11Discover = true;              // ...unless empty and this is true
    int pinTimeoutSeconds = 60;
    int pinBatchSeconds = 300;
    bool allowMachineInfo = false;
};

// Reads the configuration: defaults, then the file, then the environment
// (ZQT_PINENTRY, ZQT_PKCS11_MODULES; the latter set but empty means no
// PKCS#11 module at all). A malformed line is skipped.
Config LoadConfig();

// Creates dir (and missing parents) with mode 0700; false when it cannot,
// or when it exists but is not a directory of ours.
bool EnsurePrivateDir(const std::string& dir);

}  // namespace ref
