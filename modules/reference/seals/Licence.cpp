#include "seals/Licence.h"

#include "core/Outcome.h"
#include "seals/DataObjects.h"
#include "seals/SealFiles.h"
#include "seals/SealLimits.h"
#include "store/PrivateFiles.h"

namespace ref {

namespace {

std::string FileName(const std::string& name) {
    return NameDigest(name) + ".bin";
}

[[noreturn]] void NoLicence(const std::string& name) {
    Fail(kNotFound, "no licence data named \"" + name + "\"");
}

std::unique_ptr<TokenSession> LoggedIn(Pkcs11Registry& tokens, const CertEntry& owner,
                                       Pkcs11Registry::Access access, const TokenLogin& login) {
    std::unique_ptr<TokenSession> session = tokens.Open(owner.token, access);
    login(*session);
    return session;
}

}  // namespace

void WriteLicence(Pkcs11Registry& tokens, const std::string& licenceDir, const CertEntry& owner,
                  const std::string& name, ByteView data, const TokenLogin& login) {
    if (name.empty())
        Fail(kBadParam, "licence data needs a name");
    if (data.empty())
        Fail(kBadParam, "no licence data given");
    if (data.size() > kMaxSealData)
        Fail(kBadParam, "licence data is larger than 8 MiB");
    if (owner.source == Source::kSoft) {
        WritePrivateFile(licenceDir, FileName(name), data);
        return;
    }
    std::unique_ptr<TokenSession> session =
        LoggedIn(tokens, owner, Pkcs11Registry::Access::kReadWrite, login);
    const std::vector<CK_OBJECT_HANDLE> replaced =
        FindDataObjects(*session, kLicenceApplication, &name);
    DataObject object{kLicenceApplication, name, owner.keyId, true,
                      Bytes(data.begin(), data.end())};
    PutDataObject(*session, object, replaced, "the licence data \"" + name + "\"");
}

Bytes ReadLicence(Pkcs11Registry& tokens, const std::string& licenceDir, const CertEntry& owner,
                  const std::string& name, const TokenLogin& login) {
    if (name.empty())
        Fail(kBadParam, "licence data needs a name");
    if (owner.source == Source::kSoft) {
        std::optional<Bytes> bytes = ReadOwnFile(licenceDir + "/" + FileName(name), kMaxSealData);
        if (!bytes)
            NoLicence(name);
        return std::move(*bytes);
    }
    std::unique_ptr<TokenSession> session =
        LoggedIn(tokens, owner, Pkcs11Registry::Access::kReadOnly, login);
    for (CK_OBJECT_HANDLE object : FindDataObjects(*session, kLicenceApplication, &name)) {
        if (std::optional<Bytes> value = DataValue(*session, object))
            return std::move(*value);
    }
    NoLicence(name);
}

}  // namespace ref
