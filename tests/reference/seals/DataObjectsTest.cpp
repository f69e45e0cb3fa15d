// Putting a data object in place of older ones, against a scripted session:
// a refusal keeps the old objects and names what could not be written.
#include <gtest/gtest.h>

#include <map>

#include "core/Outcome.h"
#include "seals/DataObjects.h"
#include "seals/TokenSeals.h"

namespace {

using ref::Bytes;
using ref::Failure;

ref::TokenInfo MakeInfo() {
    ref::TokenInfo info;
    info.label = "Label";
    info.serial = "SERIAL";
    return info;
}

// Objects in memory; CreateObject fails with a scripted CKR, or stores a
// value shortened as a token with a small reading limit would give it back.
class ScriptedSession : public ref::TokenSession {
  public:
    ref::TokenInfo info = MakeInfo();
    CK_RV createFails = CKR_OK;
    bool truncates = false;
    bool refusesId = false;  // as PKCS#11 has it for data objects
    std::map<CK_OBJECT_HANDLE, std::map<CK_ATTRIBUTE_TYPE, Bytes>> objects;
    CK_OBJECT_HANDLE next = 1;

    const ref::TokenInfo& token() const override { return info; }
    void Login(const ref::Secret*) override {}
    ref::EvpPkeyPtr PrivateKey(ref::ByteView, X509*) override { return nullptr; }
    bool HasPrivateKey(ref::ByteView) override { return false; }
    void ThrowIfFailed(const char*) override {}
    ref::EvpPkeyPtr PrivateKeyFor(ref::ByteView, EVP_PKEY*) override { return nullptr; }

    std::vector<CK_OBJECT_HANDLE> FindObjects(std::vector<CK_ATTRIBUTE> match,
                                              size_t limit) override {
        std::vector<CK_OBJECT_HANDLE> found;
        for (const auto& [handle, attributes] : objects) {
            bool all = true;
            for (const CK_ATTRIBUTE& want : match) {
                const auto it = attributes.find(want.type);
                const auto* p = static_cast<const uint8_t*>(want.pValue);
                all = all && it != attributes.end() && it->second == Bytes(p, p + want.ulValueLen);
            }
            if (all && found.size() < limit)
                found.push_back(handle);
        }
        return found;
    }
    std::optional<Bytes> Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) override {
        const auto it = objects.at(object).find(type);
        if (it == objects.at(object).end())
            return std::nullopt;
        return it->second;
    }
    CK_OBJECT_HANDLE CreateObject(std::vector<CK_ATTRIBUTE> attributes) override {
        if (createFails != CKR_OK)
            throw Failure(ref::kPkcs11, "C_CreateObject: " + ref::CkrName(createFails));
        for (const CK_ATTRIBUTE& a : attributes) {
            if (refusesId && a.type == CKA_ID)
                throw Failure(ref::kPkcs11, "C_CreateObject: CKR_ATTRIBUTE_TYPE_INVALID");
        }
        auto& object = objects[next];
        for (const CK_ATTRIBUTE& a : attributes) {
            const auto* p = static_cast<const uint8_t*>(a.pValue);
            object[a.type] = Bytes(p, p + a.ulValueLen);
        }
        if (truncates)
            object[CKA_VALUE].resize(object[CKA_VALUE].size() / 2);
        return next++;
    }
    void SetAttributes(CK_OBJECT_HANDLE, std::vector<CK_ATTRIBUTE>) override {}
    void DestroyObject(CK_OBJECT_HANDLE object) override { objects.erase(object); }
    std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GenerateKeyPair(
        CK_MECHANISM, std::vector<CK_ATTRIBUTE>, std::vector<CK_ATTRIBUTE>) override {
        return {};
    }
    std::vector<CK_MECHANISM_TYPE> Mechanisms() override { return {}; }
};

ref::SealRecord Seal(const std::string& name, int32_t type, uint8_t fill) {
    return {name, type, "", "01", Bytes(10, fill)};
}

TEST(DataObjectsTest, SameNameAndTypeIsReplacedOthersStay) {
    ScriptedSession session;
    ref::PutTokenSeal(session, Seal("a", 1, 1), Bytes{0x01});
    ref::PutTokenSeal(session, Seal("a", 2, 2), Bytes{0x01});
    ref::PutTokenSeal(session, Seal("b", 1, 3), Bytes{0x01});
    ref::PutTokenSeal(session, Seal("a", 1, 4), Bytes{0x01});
    const std::vector<ref::StoredSeal> seals = ref::TokenSeals(session);
    ASSERT_EQ(seals.size(), 3u);
    int replaced = 0;
    for (const ref::StoredSeal& seal : seals) {
        EXPECT_EQ(seal.keyId, Bytes{0x01});
        EXPECT_EQ(seal.store, "pkcs11");
        if (seal.record.name == "a" && seal.record.type == 1) {
            EXPECT_EQ(seal.record.data, Bytes(10, 4));
            ++replaced;
        }
    }
    EXPECT_EQ(replaced, 1);
}

TEST(DataObjectsTest, SealObjectsArePublicWithTheirApplicationAndLabel) {
    ScriptedSession session;
    ref::PutTokenSeal(session, Seal("Finance", 1, 1), Bytes{0x42});
    ASSERT_EQ(session.objects.size(), 1u);
    auto& object = session.objects.begin()->second;
    EXPECT_EQ(object[CKA_APPLICATION], Bytes({'z', 'q', 't', 'c', 'a', '.', 's', 'e', 'a', 'l'}));
    EXPECT_EQ(object[CKA_LABEL], Bytes({'F', 'i', 'n', 'a', 'n', 'c', 'e'}));
    EXPECT_EQ(object[CKA_PRIVATE], Bytes{CK_FALSE});
    EXPECT_EQ(object[CKA_TOKEN], Bytes{CK_TRUE});
    EXPECT_EQ(object[CKA_ID], Bytes{0x42});
}

TEST(DataObjectsTest, ATokenRefusingCkaIdGetsTheObjectWithoutIt) {
    ScriptedSession session;
    session.refusesId = true;
    ref::PutTokenSeal(session, Seal("Finance", 1, 1), Bytes{0x42});
    ASSERT_EQ(session.objects.size(), 1u);
    EXPECT_EQ(session.objects.begin()->second.count(CKA_ID), 0u);
    EXPECT_EQ(ref::TokenSeals(session).at(0).record.data, Bytes(10, 1));
}

TEST(DataObjectsTest, RefusalsKeepTheOldObjectAndNameTheSeal) {
    struct Case {
        CK_RV createFails;
        bool truncates;
        const char* says;
    };
    const Case cases[] = {
        {CKR_DEVICE_MEMORY, false, "no room for the seal \"kept\""},
        {CKR_GENERAL_ERROR, false, "the seal \"kept\""},
        {CKR_OK, true, "does not give back the seal \"kept\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        ScriptedSession session;
        ref::PutTokenSeal(session, Seal("kept", 1, 1), {});
        session.createFails = c.createFails;
        session.truncates = c.truncates;
        try {
            ref::PutTokenSeal(session, Seal("kept", 1, 2), {});
            ADD_FAILURE() << "written";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), ref::kPkcs11);
            EXPECT_NE(std::string(failure.what()).find(c.says), std::string::npos)
                << failure.what();
        }
        const std::vector<ref::StoredSeal> seals = ref::TokenSeals(session);
        ASSERT_EQ(seals.size(), 1u);
        EXPECT_EQ(seals[0].record.data, Bytes(10, 1));
    }
}

TEST(DataObjectsTest, APulledTokenStaysAPulledToken) {
    class Pulled : public ScriptedSession {
        CK_OBJECT_HANDLE CreateObject(std::vector<CK_ATTRIBUTE>) override {
            throw Failure(ref::kNoToken, "C_CreateObject: CKR_DEVICE_REMOVED");
        }
    } session;
    try {
        ref::PutTokenSeal(session, Seal("x", 1, 1), {});
        ADD_FAILURE() << "written";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), ref::kNoToken);
    }
}

TEST(DataObjectsTest, ObjectsThatAreNotRecordsAreSkipped) {
    ScriptedSession session;
    ref::DataObject junk{ref::kSealApplication, "junk", {}, false, Bytes{'{', 'x'}};
    ref::PutDataObject(session, junk, {}, "junk");
    ref::PutTokenSeal(session, Seal("real", 1, 1), {});
    const std::vector<ref::StoredSeal> seals = ref::TokenSeals(session);
    ASSERT_EQ(seals.size(), 1u);
    EXPECT_EQ(seals[0].record.name, "real");
}

}  // namespace
