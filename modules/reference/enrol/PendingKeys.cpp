#include "enrol/PendingKeys.h"

#include <dirent.h>
#include <openssl/pem.h>
#include <nlohmann/json.hpp>

#include <memory>

#include "core/Config.h"
#include "core/Outcome.h"
#include "enrol/EnrolKeys.h"
#include "pkcs11/P11Util.h"
#include "pkcs11/TokenSession.h"
#include "store/PrivateFiles.h"

namespace ref {

namespace {

constexpr std::string_view kSuffix = ".json";

std::string KindOfLabel(const std::string& label) {
    const std::string rest = label.substr(kPendingPrefix.size());
    return rest.rfind("enc", 0) == 0 ? "enc" : "sign";
}

Bytes EncryptedPkcs8(EVP_PKEY* key, const Secret& password) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || i2d_PKCS8PrivateKey_bio(bio.get(), key, EVP_aes_256_cbc(),
                                        const_cast<char*>(password.c_str()),
                                        static_cast<int>(password.size()), nullptr, nullptr) != 1) {
        Fail(kInternal, "cannot encrypt the new key: " + TakeOpensslError());
    }
    return BioBytes(bio.get());
}

std::optional<PendingKey> ReadPending(const std::string& path) {
    try {
        const Bytes bytes = ReadPrivateFile(path);
        const nlohmann::json json = nlohmann::json::parse(AsString(bytes));
        PendingKey key;
        key.label = json.at("label").get<std::string>();
        key.kind = json.at("kind").get<std::string>();
        const auto spki = Base64Decode(json.at("public").get<std::string>());
        if (!spki)
            return std::nullopt;
        key.publicKey = ParsePublicKeyDer(*spki);
        key.id = KeyId(key.publicKey.get());
        key.path = path;
        return key;
    } catch (const std::exception&) {
        return std::nullopt;  // not one of ours, or damaged: not offered
    }
}

}  // namespace

const char* RoleName(KeyRole role) {
    return role == KeyRole::kSign ? "sign" : "enc";
}

std::string PendingLabel(KeyRole role, std::time_t now) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(kPendingPrefix) + RoleName(role) + " " + date;
}

std::vector<PendingKey> PendingOnToken(TokenSession& session) {
    CK_OBJECT_CLASS cls = CKO_PUBLIC_KEY;
    std::vector<CK_ATTRIBUTE> match = {{CKA_CLASS, &cls, sizeof cls}};
    std::vector<PendingKey> out;
    for (CK_OBJECT_HANDLE object : session.FindObjects(match, kMaxObjectsPerToken)) {
        const std::optional<Bytes> label = session.Attribute(object, CKA_LABEL);
        const std::optional<Bytes> id = session.Attribute(object, CKA_ID);
        if (!label || !id || AsString(*label).rfind(kPendingPrefix, 0) != 0)
            continue;
        PendingKey key;
        key.label = AsString(*label);
        key.kind = KindOfLabel(key.label);
        key.id = *id;
        key.publicObject = object;
        try {
            key.publicKey = ReadTokenPublicKey(session, object);
        } catch (const Failure& failure) {
            if (failure.code() == kNoToken)
                throw;
            continue;
        }
        out.push_back(std::move(key));
    }
    return out;
}

std::vector<PendingKey> PendingInFolder(const std::string& dir) {
    std::vector<PendingKey> out;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder)
        return out;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.size() > kSuffix.size() &&
            name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (auto key = ReadPending(dir + "/" + name))
            out.push_back(std::move(*key));
    }
    return out;
}

std::string WritePendingFile(const std::string& dir, EVP_PKEY* key, KeyRole role,
                             const Secret& password) {
    if (!EnsurePrivateDir(dir))
        Fail(kFile, "cannot make the private folder " + dir);
    const Bytes id = KeyId(key);
    nlohmann::json json = {{"v", 1},
                           {"label", PendingLabel(role, std::time(nullptr))},
                           {"kind", RoleName(role)},
                           {"public", Base64Encode(PublicKeyDer(key))},
                           {"key", Base64Encode(EncryptedPkcs8(key, password))}};
    const std::string name = LowerHex(id) + std::string(kSuffix);
    WritePrivateFile(dir, name, AsBytes(json.dump()));
    return dir + "/" + name;
}

EvpPkeyPtr OpenPendingFile(const PendingKey& pending, const Secret& password) {
    const Bytes bytes = ReadPrivateFile(pending.path);
    std::optional<Bytes> der;
    try {
        der = Base64Decode(nlohmann::json::parse(AsString(bytes)).at("key").get<std::string>());
    } catch (const std::exception&) {
    }
    if (!der)
        Fail(kMalformed, "the pending key file " + pending.path + " is damaged");
    BioPtr bio = MemoryBio(*der);
    EvpPkeyPtr key(
        d2i_PKCS8PrivateKey_bio(bio.get(), nullptr, nullptr, const_cast<char*>(password.c_str())));
    if (!key) {
        TakeOpensslError();
        Fail(kBadPin, "password incorrect for the pending key");
    }
    if (!SamePublicKey(key.get(), pending.publicKey.get()))
        Fail(kMalformed, "the pending key file " + pending.path + " is damaged");
    return key;
}

}  // namespace ref
