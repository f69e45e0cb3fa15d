#include "methods/SealLookup.h"

#include <openssl/evp.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/Bytes.h"
#include "core/Outcome.h"
#include "core/Text.h"

namespace ref {

namespace {

std::string Sha256Hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    return AsciiLower(HexEncode(ByteView(digest, length)));
}

}  // namespace

SealBinding FindSealBinding(const MainControl& control, const std::string& name) {
    if (name.empty())
        Fail(kBadParam, "no seal name given");
    const std::string path = control.config.sealDir + "/" + Sha256Hex(name) + ".json";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(kNotFound, "no seal named \"" + name + "\"");
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json record = nlohmann::json::parse(text.str(), nullptr, false);
    if (!record.is_object() || !record.contains("certSn") || !record["certSn"].is_string()) {
        Fail(kMalformed, "the seal record of \"" + name + "\" cannot be read");
    }
    const std::string serial = record["certSn"].get<std::string>();
    if (serial.empty())
        Fail(kNotFound, "the seal \"" + name + "\" is bound to no certificate");
    return {name, serial};
}

}  // namespace ref
