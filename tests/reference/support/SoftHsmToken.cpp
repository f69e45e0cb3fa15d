#include "support/SoftHsmToken.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace {

std::string Trim(const std::string& text) {
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// The value after "Name:" on a line of softhsm2-util's listing, or nullopt.
bool FieldValue(const std::string& line, const std::string& name, std::string& value) {
    std::string trimmed = Trim(line);
    if (trimmed.rfind(name + ":", 0) != 0) {
        return false;
    }
    value = Trim(trimmed.substr(name.size() + 1));
    return true;
}

// Usage flags that mean something on a public key object.
std::string PublicUsage(const std::string& usage) {
    std::istringstream words(usage);
    std::string word;
    std::string kept;
    while (words >> word) {
        if (word != "--always-auth") {
            kept += " " + word;
        }
    }
    return kept;
}

std::string Env(const std::string& dir) {
    return "SOFTHSM2_CONF=" + ShellQuote(dir + "/softhsm2.conf") + " ";
}

// Runs a SoftHSM or openssl tool for the token in dir; its output.
std::string Run(const std::string& dir, const std::string& command) {
    CommandResult result = RunShell(Env(dir) + command);
    if (result.exitCode != 0) {
        throw std::runtime_error("SoftHSM token: `" + command + "` failed (" +
                                 std::to_string(result.exitCode) + "):\n" + result.output);
    }
    return result.output;
}

void WriteObject(const std::string& toolPrefix, const std::string& file, const std::string& type,
                 const std::string& idHex, const std::string& label, const std::string& usage) {
    CommandResult result =
        RunShell(toolPrefix + " --write-object " + ShellQuote(file) + " --type " + type + " --id " +
                 ShellQuote(idHex) + " --label " + ShellQuote(label) + usage);
    if (result.exitCode != 0) {
        throw std::runtime_error("SoftHSM token: writing " + type + " " + idHex + " failed:\n" +
                                 result.output);
    }
}

// The identity's key as PKCS#8 DER (returned) and its public key as
// SubjectPublicKeyInfo DER (publicDer), the forms pkcs11-tool writes.
std::string KeyFiles(const std::string& dir, const TestIdentity& identity, const std::string& idHex,
                     std::string& publicDer) {
    std::string privateDer = dir + "/" + idHex + ".p8.der";
    publicDer = dir + "/" + idHex + ".pub.der";
    Run(dir, "openssl pkcs8 -topk8 -nocrypt -in " + ShellQuote(identity.key) +
                 " -outform DER -out " + ShellQuote(privateDer));
    Run(dir, "openssl pkey -in " + ShellQuote(identity.key) + " -pubout -outform DER -out " +
                 ShellQuote(publicDer));
    return privateDer;
}

}  // namespace

SoftHsmToken::SoftHsmToken(const std::string& dir, const std::string& label)
    : dir_(std::filesystem::absolute(dir).string()), label_(label) {
    std::filesystem::create_directories(dir_ + "/tokens");
    WriteFileText(dir_ + "/softhsm2.conf", "directories.tokendir = " + dir_ +
                                               "/tokens\n"
                                               "objectstore.backend = file\n"
                                               "log.level = ERROR\n"
                                               "slots.removable = false\n");
    // SoftHSM in this process (loaded by the code under test) reads it at
    // C_Initialize; the tools below get it on their command line too.
    setenv("SOFTHSM2_CONF", (dir_ + "/softhsm2.conf").c_str(), 1);
    Run(dir_, "softhsm2-util --init-token --free --label " + ShellQuote(label_) + " --so-pin " +
                  kSoPin + " --pin " + kPin);
}

std::string SoftHsmToken::Serial() const {
    // Blocks of "Slot N", each with "Serial number:" before "Label:".
    std::istringstream listing(Run(dir_, "softhsm2-util --show-slots"));
    std::string line;
    std::string serial;
    std::string value;
    while (std::getline(listing, line)) {
        if (line.rfind("Slot ", 0) == 0) {
            serial.clear();
        } else if (FieldValue(line, "Serial number", value)) {
            serial = value;
        } else if (FieldValue(line, "Label", value) && value == label_ && !serial.empty()) {
            return serial;
        }
    }
    throw std::runtime_error("SoftHSM token: no token labelled " + label_);
}

std::string SoftHsmToken::ToolPrefix() const {
    return Env(dir_) + "pkcs11-tool --module " + kModule + " --token-label " + ShellQuote(label_) +
           " --login --pin " + kPin;
}

void SoftHsmToken::Import(const TestIdentity& identity, const std::string& idHex,
                          const std::string& label, const std::string& usage) {
    std::string publicDer;
    std::string privateDer = KeyFiles(dir_, identity, idHex, publicDer);
    WriteObject(ToolPrefix(), privateDer, "privkey", idHex, label, " " + usage);
    WriteObject(ToolPrefix(), identity.der, "cert", idHex, label, "");
    WriteObject(ToolPrefix(), publicDer, "pubkey", idHex, label, PublicUsage(usage));
}

void SoftHsmToken::ImportCertificateOnly(const TestIdentity& identity, const std::string& idHex) {
    WriteObject(ToolPrefix(), identity.der, "cert", idHex, "certificate " + idHex, "");
}

void SoftHsmToken::ImportKeyOnly(const TestIdentity& identity, const std::string& idHex) {
    std::string publicDer;
    std::string privateDer = KeyFiles(dir_, identity, idHex, publicDer);
    WriteObject(ToolPrefix(), privateDer, "privkey", idHex, "key " + idHex,
                " --usage-sign --usage-decrypt");
    WriteObject(ToolPrefix(), publicDer, "pubkey", idHex, "key " + idHex,
                " --usage-sign --usage-decrypt");
}

void SoftHsmToken::Delete() {
    Run(dir_, "softhsm2-util --delete-token --token " + ShellQuote(label_));
}
