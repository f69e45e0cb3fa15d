// What the list shows: certificates with their key present, public seals,
// every field as documented, and nothing outside ASCII.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <vector>

#include "listing/ListScene.h"

namespace {

using nlohmann::json;

// U+5370 U+7AE0 (BMP), U+00E9, and U+1F600, which needs a surrogate pair.
const std::string kCommonName = "\xE5\x8D\xB0\xE7\xAB\xA0 caf\xC3\xA9 \xF0\x9F\x98\x80";
const std::string kSealName = "\xE8\xB4\xA2\xE5\x8A\xA1 seal \xF0\x9F\x98\x80";
const std::string kSealData = "not really a PNG, 31 bytes long";

const json* FindBySerial(const json& list, const std::string& serial) {
    for (const json& cert : list.at("certs")) {
        if (cert.at("sn") == serial)
            return &cert;
    }
    return nullptr;
}

class ListContentTest : public ::testing::Test {
  protected:
    static const TestPki& pki() { return TestPki::Shared(); }

    // On the token: the RSA identity and the EC certificate without its key.
    // In the store: the identity named outside ASCII, and the SM2
    // certificate in a PKCS#12 without key. A seal on the token.
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        scope->token()->Import(pki().rsa, "01", "rsa identity");
        scope->token()->ImportCertificateOnly(pki().ec, "02");
        named = MakeIdentity(scope->home(), kCommonName);
        scope->AddToStore(named, "store pass");
        AddCertificateOnlyToStore(*scope, pki().sm2);
        PutTokenSeal(*scope, kSealName, pki().rsa.serial, kSealData);
    }

    std::string Sha1Of(const TestIdentity& identity) {
        std::string hex = RunShell("sha1sum " + ShellQuote(identity.der) + " | cut -d' ' -f1")
                              .output.substr(0, 40);
        std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
        return hex;
    }

    std::unique_ptr<ControlScope> scope;
    TestIdentity named;
    ListLibrary library;
};

TEST_F(ListContentTest, FullListHoldsKeyedCertificatesWithEveryField) {
    const json list = json::parse(ReadByProtocol(library.full()));
    EXPECT_EQ(list.at("v"), 1);
    ASSERT_EQ(list.at("certs").size(), 2u) << list.dump();

    const json* onToken = FindBySerial(list, pki().rsa.serial);
    ASSERT_NE(onToken, nullptr);
    EXPECT_EQ(onToken->at("store"), "pkcs11");
    EXPECT_EQ(onToken->at("token").at("label"), "Test Token");
    EXPECT_EQ(onToken->at("token").at("serial"), scope->token()->Serial());
    EXPECT_EQ(onToken->at("id").get<std::string>().rfind("pkcs11:", 0), 0u);
    EXPECT_NE(onToken->at("id").get<std::string>().find("id=%01"), std::string::npos);
    EXPECT_EQ(onToken->at("subject"), pki().rsa.subject);
    EXPECT_EQ(onToken->at("key"), "RSA");
    EXPECT_EQ(onToken->at("bits"), 2048);
    EXPECT_TRUE(onToken->at("usage").is_array());
    EXPECT_EQ(onToken->at("sha1"), Sha1Of(pki().rsa));
    EXPECT_EQ(Base64DecodeText(onToken->at("cert")), ReadFileText(pki().rsa.der));
    for (const char* field : {"issuer", "cn", "notBefore", "notAfter"})
        EXPECT_TRUE(onToken->at(field).is_string()) << field;

    const json* inStore = FindBySerial(list, named.serial);
    ASSERT_NE(inStore, nullptr);
    EXPECT_EQ(inStore->at("store"), "soft");
    EXPECT_EQ(inStore->at("cn"), kCommonName);
    EXPECT_EQ(inStore->at("id"), Sha1Of(named));
    EXPECT_EQ(Base64DecodeText(inStore->at("cert")), ReadFileText(named.der));

    EXPECT_EQ(FindBySerial(list, pki().ec.serial), nullptr) << "a certificate without its key";
    EXPECT_EQ(FindBySerial(list, pki().sm2.serial), nullptr) << "a PKCS#12 without a key";
}

TEST_F(ListContentTest, SealsAreListedWithoutTheirData) {
    const std::string text = ReadByProtocol(library.full());
    const json list = json::parse(text);
    ASSERT_EQ(list.at("seals").size(), 1u) << text;
    const json& seal = list.at("seals").at(0);
    EXPECT_EQ(seal.at("name"), kSealName);
    EXPECT_EQ(seal.at("store"), "pkcs11");
    EXPECT_EQ(seal.at("token"), scope->token()->Serial());
    EXPECT_EQ(seal.at("type"), 1);
    EXPECT_EQ(seal.at("format"), "png");
    EXPECT_EQ(seal.at("certSn"), pki().rsa.serial);
    EXPECT_EQ(seal.at("size"), kSealData.size());
    EXPECT_FALSE(seal.contains("data"));
    EXPECT_EQ(text.find(Base64Of(scope->home(), kSealData)), std::string::npos);
}

TEST_F(ListContentTest, CompactListIsTheFullOneWithoutBodies) {
    json full = json::parse(ReadByProtocol(library.full()));
    const json compact = json::parse(ReadByProtocol(library.compact()));
    for (json& cert : full.at("certs")) cert.erase("cert");
    EXPECT_EQ(compact, full);
}

TEST_F(ListContentTest, TextOutsideAsciiIsEscaped) {
    for (zqt_cert_seal_list_fn listExport : {library.full(), library.compact()}) {
        std::string text = ReadByProtocol(listExport);
        EXPECT_TRUE(IsAscii(text)) << text;
        std::transform(text.begin(), text.end(), text.begin(), ::tolower);
        EXPECT_NE(text.find("\\u5370\\u7ae0 caf\\u00e9 \\ud83d\\ude00"), std::string::npos);
        EXPECT_NE(text.find("\\u8d22\\u52a1 seal \\ud83d\\ude00"), std::string::npos);
    }
}

// Scenes in which nothing may be listed, and one in which a seal alone is.
struct Scene {
    const char* name;
    bool token;
    void (*fill)(ControlScope&);
    bool listed;
};

const Scene kScenes[] = {
    {"no token, empty store", false, [](ControlScope&) {}, false},
    {"an empty token", true, [](ControlScope&) {}, false},
    {"a certificate without key on the token", true,
     [](ControlScope& s) { s.token()->ImportCertificateOnly(TestPki::Shared().rsa, "01"); }, false},
    {"a key without certificate on the token", true,
     [](ControlScope& s) { s.token()->ImportKeyOnly(TestPki::Shared().rsa, "01"); }, false},
    {"a PKCS#12 without key in the store", false,
     [](ControlScope& s) { AddCertificateOnlyToStore(s, TestPki::Shared().rsa); }, false},
    {"a seal alone", true, [](ControlScope& s) { PutTokenSeal(s, "lone", "", "x"); }, true},
};

TEST(ListEmptinessTest, NothingFoundIsTheEmptyList) {
    ListLibrary library;
    for (const Scene& scene : kScenes) {
        SCOPED_TRACE(scene.name);
        ControlScope scope(scene.token);
        scene.fill(scope);
        for (zqt_cert_seal_list_fn listExport : {library.full(), library.compact()}) {
            const int32_t size = listExport(nullptr);
            if (scene.listed) {
                EXPECT_GT(size, 0);
                std::vector<char> buffer(static_cast<size_t>(size));
                listExport(buffer.data());
                EXPECT_EQ(json::parse(buffer.data()).at("certs").size(), 0u);
            } else {
                EXPECT_EQ(size, 0);
            }
        }
    }
}

}  // namespace
