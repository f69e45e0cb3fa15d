// Choosing among the software store's certificates: the criteria, the
// filter, the order, and every form of a certificate parameter.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "StoreTestKit.h"
#include "core/Outcome.h"
#include "core/Text.h"
#include "inventory/CertFacts.h"
#include "inventory/Inventory.h"

namespace {

namespace fs = std::filesystem;
using ref::Criteria;
using ref::StoreFilter;

const TestPki& Pki() {
    return TestPki::Shared();
}

// The code and message of what an action throws (kOk, "" when nothing).
struct Thrown {
    int32_t code = ref::kOk;
    std::string message;
};
Thrown Catch(const std::function<void()>& action) {
    try {
        action();
    } catch (const ref::Failure& failure) {
        return {failure.code(), failure.what()};
    }
    return {};
}

std::vector<std::string> Cns(const std::vector<ref::CertEntry>& entries) {
    std::vector<std::string> out;
    for (const ref::CertEntry& entry : entries) {
        out.push_back(ref::CommonName(entry.cert.get()));
    }
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Four identities in a software store, issued by two CAs that are not held;
// the registry has only a module that does not exist (no tokens).
class SoftSelection : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        shared_ = new Shared;
        Shared& s = *shared_;
        s.caOne = MakeCert(
            {.cn = "Issuer One", .serialHex = "100", .keyUsage = "keyCertSign", .ca = true});
        s.caTwo = MakeCert(
            {.cn = "Issuer Two", .serialHex = "200", .keyUsage = "keyCertSign", .ca = true});
        s.alice = MakeCert({.cn = "Alice Signer",
                            .org = "Org One",
                            .keyType = "RSA",
                            .serialHex = "0ABC",
                            .keyUsage = "critical,digitalSignature,nonRepudiation",
                            .issuer = &s.caOne});
        s.bob = MakeCert({.cn = "Bob Cipher",
                          .serialHex = "77",
                          .keyUsage = "keyAgreement",
                          .issuer = &s.caTwo});
        s.carol = MakeCert({.cn = "Carol Any",
                            .serialHex = "1111111111111111111111111111111111111111",
                            .keyUsage = ""});
    }
    static void TearDownTestSuite() { delete shared_; }

    void SetUp() override {
        const Shared& s = *shared_;
        for (const MadeCert* made : {&s.alice, &s.bob, &s.carol}) {
            store_.Write(made->key.get(), made->cert.get(), nullptr, ref::Secret("pw"));
        }
        ref::OpenedPfx sm2 =
            ref::ParsePfx(ReadBytes(Pki().Pkcs12(Pki().sm2, "pw")), ref::Secret("pw"));
        store_.Write(sm2.key.get(), sm2.cert.get(), nullptr, ref::Secret("pw"));
    }

    std::vector<std::string> Matching(const Criteria& criteria) {
        return Sorted(Cns(inventory_.Match({}, criteria)));
    }

    struct Shared {
        MadeCert caOne, caTwo, alice, bob, carol;
    };
    static Shared* shared_;

    ScratchDir dir_;
    ref::SoftStore store_{dir_ / "store"};
    ref::Pkcs11Registry registry_{{dir_ / "no-such-module.so"}};
    ref::Inventory inventory_{registry_, store_};
};
SoftSelection::Shared* SoftSelection::shared_ = nullptr;

const std::string kSm2Cn = "sm2 leaf";

TEST_F(SoftSelection, EachCriterionMatchesAndMisses) {
    const Shared& s = *shared_;
    struct Case {
        const char* name;
        Criteria criteria;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"any", {}, {"Alice Signer", "Bob Cipher", "Carol Any", kSm2Cn}},
        {"serial with colons", Crit({{kSerial, "0a:bc"}}), {"Alice Signer"}},
        {"serial without leading zero", Crit({{kSerial, "ABC"}}), {"Alice Signer"}},
        {"serial with more zeros", Crit({{kSerial, "000abc"}}), {"Alice Signer"}},
        {"serial of nobody", Crit({{kSerial, "abd"}}), {}},
        {"issuer", Crit({{kIssuer, "issuer ONE"}}), {"Alice Signer"}},
        {"issuer DN", Crit({{kIssuer, "CN=Issuer Two"}}), {"Bob Cipher"}},
        {"issuer of nobody", Crit({{kIssuer, "Issuer Three"}}), {}},
        {"subject CN", Crit({{kSubject, "alice"}}), {"Alice Signer"}},
        {"subject DN", Crit({{kSubject, "cn=alice signer,o=org one"}}), {"Alice Signer"}},
        {"subject of nobody", Crit({{kSubject, "Dave"}}), {}},
        {"sign", Crit({{kUsage, "sign"}}), {"Alice Signer", "Carol Any", kSm2Cn}},
        {"enc", Crit({{kUsage, "ENC"}}), {"Bob Cipher", "Carol Any", kSm2Cn}},
        {"RSA", Crit({{kAlgorithm, "rsa"}}), {"Alice Signer"}},
        {"EC", Crit({{kAlgorithm, "EC"}}), {"Bob Cipher", "Carol Any"}},
        {"SM2", Crit({{kAlgorithm, "Sm2"}}), {kSm2Cn}},
        {"thumbprint", Crit({{kThumbprint, Sha1Hex(s.bob.cert.get())}}), {"Bob Cipher"}},
        {"thumbprint lower case",
         Crit({{kThumbprint, ref::AsciiLower(Sha1Hex(s.bob.cert.get()))}}),
         {"Bob Cipher"}},
        {"thumbprint of a CA not held", Crit({{kThumbprint, Sha1Hex(s.caOne.cert.get())}}), {}},
        {"token never matches a store entry", Crit({{kToken, "anything"}}), {}},
        {"all at once",
         Crit({{kSerial, "ABC"},
               {kIssuer, "one"},
               {kSubject, "signer"},
               {kUsage, "sign"},
               {kAlgorithm, "RSA"},
               {kThumbprint, Sha1Hex(s.alice.cert.get())}}),
         {"Alice Signer"}},
        {"one of several misses", Crit({{kUsage, "sign"}, {kAlgorithm, "EC"}}), {"Carol Any"}},
    };
    for (const Case& c : cases) {
        std::string message;
        ASSERT_EQ(ref::CheckCriteria(c.criteria, message), ref::kOk) << c.name << ": " << message;
        EXPECT_EQ(Matching(c.criteria), Sorted(c.expected)) << c.name;
    }
}

TEST(CriteriaTest, CheckNamesTheBadField) {
    struct Case {
        Criteria criteria;
        int32_t code;
        const char* field;
    };
    const Case cases[] = {
        {{}, ref::kOk, ""},
        {Crit({{kSerial, "0a:bc"}, {kUsage, "Sign"}, {kAlgorithm, "sm2"}}), ref::kOk, ""},
        {Crit({{kSerial, "xyz"}}), ref::kBadParam, "serial"},
        {Crit({{kUsage, "encrypt"}}), ref::kBadParam, "usage"},
        {Crit({{kAlgorithm, "DSA"}}), ref::kBadParam, "algorithm"},
        {Crit({{kThumbprint, "ABCD"}}), ref::kBadParam, "thumbprint"},
        {Crit({{kThumbprint, std::string(40, 'g')}}), ref::kBadParam, "thumbprint"},
    };
    for (const Case& c : cases) {
        std::string message;
        EXPECT_EQ(ref::CheckCriteria(c.criteria, message), c.code) << message;
        EXPECT_NE(message.find(c.field), std::string::npos) << message;
    }
}

TEST(CriteriaTest, StoreFilterTypes) {
    struct Case {
        int32_t type;
        bool valid, tokens, soft, expired;
    };
    const Case cases[] = {
        {0, true, true, true, false},     {1, true, true, false, false},
        {2, true, false, true, false},    {16, true, true, true, true},
        {17, true, true, false, true},    {18, true, false, true, true},
        {3, false, false, false, false},  {-1, false, false, false, false},
        {32, false, false, false, false}, {19, false, false, false, false},
    };
    for (const Case& c : cases) {
        StoreFilter filter;
        ASSERT_EQ(ref::ParseStoreFilter(c.type, filter), c.valid) << c.type;
        if (c.valid) {
            EXPECT_EQ(filter.tokens, c.tokens) << c.type;
            EXPECT_EQ(filter.soft, c.soft) << c.type;
            EXPECT_EQ(filter.includeExpired, c.expired) << c.type;
        }
    }
}

TEST(OrderTest, ValidFirstThenLatestNotBefore) {
    ScratchDir dir;
    ref::SoftStore store(dir / "store");
    ref::Pkcs11Registry registry({dir / "no-such-module.so"});
    ref::Inventory inventory(registry, store);
    const CertRecipe recipes[] = {
        {.cn = "older", .serialHex = "1", .notBeforeDays = -10, .notAfterDays = 30},
        {.cn = "expired", .serialHex = "2", .notBeforeDays = -100, .notAfterDays = -50},
        {.cn = "newer", .serialHex = "3", .notBeforeDays = -1, .notAfterDays = 30},
        {.cn = "future", .serialHex = "4", .notBeforeDays = 5, .notAfterDays = 50},
    };
    for (const CertRecipe& recipe : recipes) {
        MadeCert made = MakeCert(recipe);
        store.Write(made.key.get(), made.cert.get(), nullptr, ref::Secret("pw"));
    }
    EXPECT_EQ(Cns(inventory.Match({}, {})), (std::vector<std::string>{"newer", "older"}));
    EXPECT_EQ(Cns(inventory.Match({.includeExpired = true}, {})),
              (std::vector<std::string>{"newer", "older", "future", "expired"}));
    EXPECT_EQ(Cns(inventory.Match({.tokens = true, .soft = false}, {})),
              std::vector<std::string>{});
    // The expired one still names a certificate to verify with.
    EXPECT_EQ(Catch([&] { inventory.ResolveSigner({}, {}, "02"); }).code, ref::kNotFound);
    ref::X509Shared expired = inventory.ResolveCertificate({}, {}, "02");
    ASSERT_TRUE(expired);
    EXPECT_EQ(ref::CommonName(expired.get()), "expired");
}

TEST_F(SoftSelection, ExpiredOnlyWithPlusSixteen) {
    ref::OpenedPfx expired =
        ref::ParsePfx(ReadBytes(Pki().Pkcs12(Pki().expired, "pw")), ref::Secret("pw"));
    store_.Write(expired.key.get(), expired.cert.get(), nullptr, ref::Secret("pw"));
    const Criteria bySerial = Crit({{kSerial, Pki().expired.serial}});
    EXPECT_TRUE(inventory_.Match({}, bySerial).empty());
    StoreFilter withExpired;
    ASSERT_TRUE(ref::ParseStoreFilter(16, withExpired));
    ASSERT_EQ(inventory_.Match(withExpired, bySerial).size(), 1u);
    EXPECT_EQ(inventory_.Scan({}).size(), 4u);
    EXPECT_EQ(inventory_.Scan(withExpired).size(), 5u);
}

TEST_F(SoftSelection, SignerByEveryFormOfParameter) {
    const Shared& s = *shared_;
    const std::string aliceDer = ref::Base64Encode(ref::CertificateDer(s.alice.cert.get()));
    struct Case {
        const char* name;
        Criteria criteria;
        std::string sel;
        std::string cn;  // expected, or "" with code
        int32_t code;
    };
    const std::vector<Case> cases = {
        {"chosen by criteria", Crit({{kSubject, "bob"}}), "", "Bob Cipher", ref::kOk},
        {"chosen: nothing matches", Crit({{kSubject, "nobody"}}), "", "", ref::kNotFound},
        {"serial", {}, "0ABC", "Alice Signer", ref::kOk},
        {"serial, lower case with colons", {}, " 0a:bc ", "Alice Signer", ref::kOk},
        {"serial ignores the criteria", Crit({{kSubject, "bob"}}), "77", "Bob Cipher", ref::kOk},
        {"thumbprint", {}, Sha1Hex(s.bob.cert.get()), "Bob Cipher", ref::kOk},
        {"40 digits that are a serial", {}, std::string(40, '1'), "Carol Any", ref::kOk},
        {"PEM", {}, PemOf(s.alice.cert.get()), "Alice Signer", ref::kOk},
        {"Base64 DER", {}, aliceDer, "Alice Signer", ref::kOk},
        {"certificate not held", {}, PemOf(s.caOne.cert.get()), "", ref::kNotFound},
        {"serial not held", {}, "DEAD", "", ref::kNotFound},
        {"thumbprint not held", {}, Sha1Hex(s.caTwo.cert.get()), "", ref::kNotFound},
        {"not hex", {}, "Alice", "", ref::kBadParam},
        {"URI without id", {}, "pkcs11:token=x", "", ref::kBadParam},
        {"URI of no entry", {}, "pkcs11:id=%01", "", ref::kNotFound},
        {"URI of an absent token", {}, "pkcs11:token=absent;id=%01", "", ref::kNoToken},
        {"chosen token absent", Crit({{kToken, "absent"}}), "", "", ref::kNoToken},
    };
    for (const Case& c : cases) {
        ref::CertEntry entry;
        const Thrown thrown =
            Catch([&] { entry = inventory_.ResolveSigner({}, c.criteria, c.sel); });
        ASSERT_EQ(thrown.code, c.code) << c.name << ": " << thrown.message;
        if (c.code == ref::kOk) {
            EXPECT_EQ(ref::CommonName(entry.cert.get()), c.cn) << c.name;
            EXPECT_EQ(entry.source, ref::Source::kSoft) << c.name;
            EXPECT_TRUE(fs::exists(entry.path)) << c.name;
            EXPECT_EQ(entry.der, ref::CertificateDer(entry.cert.get())) << c.name;
        }
    }
    EXPECT_EQ(Catch([&] {
                  inventory_.ResolveSigner({}, Crit({{kSubject, "nobody"}}), "");
              }).message,
              "no certificate matches the chosen criteria");
    // The store is not consulted when the filter leaves it out.
    EXPECT_EQ(Catch([&] { inventory_.ResolveSigner({.soft = false}, {}, "0ABC"); }).code,
              ref::kNotFound);
}

TEST_F(SoftSelection, CertificateGivenByValueOrMalformed) {
    const Shared& s = *shared_;
    const ref::Bytes caDer = ref::CertificateDer(s.caTwo.cert.get());
    struct Case {
        const char* name;
        std::string sel;
        int32_t code;
        ref::Bytes der;
    };
    ref::Bytes junk(150, 0x41);
    junk[0] = 0x30;
    const std::vector<Case> cases = {
        {"Base64 of a certificate not held", ref::Base64Encode(caDer), ref::kOk, caDer},
        {"PEM not held", PemOf(s.caTwo.cert.get()), ref::kOk, caDer},
        {"held, by serial", "77", ref::kOk, ref::CertificateDer(s.bob.cert.get())},
        {"chosen by the criteria", "", ref::kOk, ref::CertificateDer(s.alice.cert.get())},
        {"Base64 that is not a certificate", ref::Base64Encode(junk), ref::kMalformed, {}},
        {"PEM that is not one",
         "-----BEGIN CERTIFICATE-----\nMIIBAAAA\n-----END CERTIFICATE-----\n",
         ref::kMalformed,
         {}},
        {"neither", "no such thing", ref::kBadParam, {}},
    };
    for (const Case& c : cases) {
        ref::X509Shared cert;
        const Thrown thrown = Catch([&] {
            cert = inventory_.ResolveCertificate({}, Crit({{kSubject, "alice"}}), c.sel);
        });
        ASSERT_EQ(thrown.code, c.code) << c.name << ": " << thrown.message;
        if (c.code == ref::kOk) {
            ASSERT_TRUE(cert) << c.name;
            EXPECT_EQ(ref::CertificateDer(cert.get()), c.der) << c.name;
        }
    }
}

TEST(AmbiguityTest, OneSerialFromTwoCasIsAmbiguous) {
    ScratchDir dir;
    const std::string store = dir / "store";
    fs::create_directory(store);
    for (const std::string name : {"first", "second"}) {
        const std::string p = dir / name;
        Sh("cd " + ShellQuote(dir.path()) + " && openssl req -x509 -new -newkey ec " +
           "-pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + p + "-ca.key -subj '/CN=" + name +
           " ca' -days 30 -out " + p + "-ca.pem 2>&1 && openssl req -new -newkey ec " +
           "-pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + p + ".key -subj '/CN=" + name +
           " leaf' -out " + p + ".csr 2>&1 && openssl x509 -req -in " + p + ".csr -CA " + p +
           "-ca.pem -CAkey " + p + "-ca.key -set_serial 0x4242 -days 30 -out " + p +
           ".pem 2>&1 && openssl pkcs12 -export -certpbe NONE -inkey " + p + ".key -in " + p +
           ".pem -passout pass:pw -out " + store + "/" + name + ".p12");
    }
    ref::SoftStore soft(store);
    ref::Pkcs11Registry registry({dir / "no-such-module.so"});
    ref::Inventory inventory(registry, soft);
    ASSERT_EQ(inventory.Scan({}).size(), 2u);
    for (const char* sel : {"4242", "00:42:42"}) {
        const Thrown signer = Catch([&] { inventory.ResolveSigner({}, {}, sel); });
        EXPECT_EQ(signer.code, ref::kNotFound) << sel;
        EXPECT_NE(signer.message.find("ambiguous"), std::string::npos) << signer.message;
        EXPECT_EQ(Catch([&] { inventory.ResolveCertificate({}, {}, sel); }).code, ref::kNotFound);
    }
    // The criteria still choose one of them, the best by the usual order.
    EXPECT_EQ(inventory.Match({}, Crit({{kSerial, "4242"}})).size(), 2u);
    const ref::X509Ptr first = LoadCert(dir / "first.pem");
    EXPECT_EQ(inventory.ResolveSigner({}, {}, Sha1Hex(first.get())).der,
              ref::CertificateDer(first.get()));
}

}  // namespace
