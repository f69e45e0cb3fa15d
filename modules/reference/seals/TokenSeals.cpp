#include "seals/TokenSeals.h"

#include "core/Outcome.h"
#include "seals/DataObjects.h"

namespace ref {

namespace {

struct FoundSeal {
    CK_OBJECT_HANDLE object;
    StoredSeal seal;
};

std::vector<FoundSeal> Find(TokenSession& session) {
    std::vector<FoundSeal> found;
    for (CK_OBJECT_HANDLE object : FindDataObjects(session, kSealApplication)) {
        const std::optional<Bytes> value = DataValue(session, object);
        if (!value)
            continue;
        try {
            StoredSeal seal{ParseSealRecord(AsString(*value)), "pkcs11", session.token(), {}};
            seal.keyId = session.Attribute(object, CKA_ID).value_or(Bytes{});
            found.push_back({object, std::move(seal)});
        } catch (const Failure& failure) {
            if (failure.code() != kMalformed)
                throw;
        }
    }
    return found;
}

}  // namespace

std::vector<StoredSeal> TokenSeals(TokenSession& session) {
    std::vector<StoredSeal> seals;
    for (FoundSeal& found : Find(session)) seals.push_back(std::move(found.seal));
    return seals;
}

void PutTokenSeal(TokenSession& session, const SealRecord& record, ByteView keyId) {
    std::vector<CK_OBJECT_HANDLE> replaced;
    for (const FoundSeal& found : Find(session)) {
        if (found.seal.record.name == record.name && found.seal.record.type == record.type)
            replaced.push_back(found.object);
    }
    const std::string json = SealRecordJson(record, true);
    DataObject object{kSealApplication, record.name, Bytes(keyId.begin(), keyId.end()), false,
                      Bytes(json.begin(), json.end())};
    PutDataObject(session, object, replaced, "the seal \"" + record.name + "\"");
}

}  // namespace ref
