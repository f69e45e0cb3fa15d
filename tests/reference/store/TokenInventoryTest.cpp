// The inventory over a SoftHSM2 token next to the software store.

#include <gtest/gtest.h>

#include <functional>

#include "StoreTestKit.h"
#include "core/Outcome.h"
#include "inventory/CertFacts.h"
#include "inventory/CertificateInfo.h"
#include "inventory/Inventory.h"
#include "support/SoftHsmToken.h"

namespace {

const TestPki& Pki() {
    return TestPki::Shared();
}
constexpr const char* kLabel = "store test";

int32_t CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ref::Failure& failure) {
        return failure.code();
    }
    return ref::kOk;
}

// The token holds the RSA identity under id 01 and, as certificate only, the
// EC one under id 02. The software store holds the SM2 identity and the RSA
// one as well.
class TokenInventory : public testing::Test {
  protected:
    void SetUp() override {
        token_.Import(Pki().rsa, "01", "rsa");
        token_.ImportCertificateOnly(Pki().ec, "02");
        for (const TestIdentity* identity : {&Pki().sm2, &Pki().rsa}) {
            ref::OpenedPfx opened =
                ref::ParsePfx(ReadBytes(Pki().Pkcs12(*identity, "pw")), ref::Secret("pw"));
            store_.Write(opened.key.get(), opened.cert.get(), nullptr, ref::Secret("pw"));
        }
    }

    ScratchDir dir_;
    SoftHsmToken token_{dir_ / "hsm", kLabel};
    ref::SoftStore store_{dir_ / "store"};
    ref::Pkcs11Registry registry_{{SoftHsmToken::kModule}};
    ref::Inventory inventory_{registry_, store_};
};

const ref::CertEntry* Find(const std::vector<ref::CertEntry>& entries, const TestIdentity& who,
                           ref::Source source) {
    const ref::Bytes der = ReadBytes(who.der);
    for (const ref::CertEntry& entry : entries) {
        if (entry.der == der && entry.source == source) {
            return &entry;
        }
    }
    return nullptr;
}

TEST_F(TokenInventory, ScanListsTokensFirstWithWhatTheyHold) {
    const std::vector<ref::CertEntry> all = inventory_.Scan({});
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].source, ref::Source::kToken);
    EXPECT_EQ(all[1].source, ref::Source::kToken);
    const ref::CertEntry* rsa = Find(all, Pki().rsa, ref::Source::kToken);
    const ref::CertEntry* ec = Find(all, Pki().ec, ref::Source::kToken);
    ASSERT_TRUE(rsa && ec);
    EXPECT_TRUE(rsa->hasKey);
    EXPECT_FALSE(ec->hasKey);
    EXPECT_EQ(rsa->keyId, ref::Bytes{0x01});
    EXPECT_EQ(rsa->token.label, kLabel);
    EXPECT_EQ(rsa->token.serial, token_.Serial());
    EXPECT_TRUE(Find(all, Pki().sm2, ref::Source::kSoft));

    EXPECT_EQ(inventory_.Scan({.tokens = true, .soft = false}).size(), 2u);
    EXPECT_EQ(inventory_.Scan({.tokens = false, .soft = true}).size(), 2u);
}

TEST_F(TokenInventory, TokenCriterionIsExactSerialOrLabel) {
    struct Case {
        std::string token;
        size_t matches;
    };
    const Case cases[] = {
        {kLabel, 1}, {token_.Serial(), 1}, {"STORE TEST", 0}, {"store", 0}, {"", 3}};
    for (const Case& c : cases) {
        const auto found = inventory_.Match({}, Crit({{kToken, c.token}}));
        EXPECT_EQ(found.size(), c.matches) << c.token;
        for (const ref::CertEntry& entry : found) {
            EXPECT_TRUE(entry.hasKey);
        }
    }
    const ref::CertEntry chosen = inventory_.ResolveSigner({}, Crit({{kToken, kLabel}}), "");
    EXPECT_EQ(chosen.source, ref::Source::kToken);
    EXPECT_EQ(chosen.der, ReadBytes(Pki().rsa.der));
}

TEST_F(TokenInventory, CertificateWithoutKeyIsNoSigner) {
    EXPECT_EQ(CodeOf([&] { inventory_.ResolveSigner({}, {}, Pki().ec.serial); }), ref::kNoKey);
    EXPECT_EQ(
        CodeOf([&] { inventory_.ResolveSigner({}, {}, Sha1Hex(LoadCert(Pki().ec.cert).get())); }),
        ref::kNoKey);
    EXPECT_TRUE(inventory_.Match({}, Crit({{kSerial, Pki().ec.serial}})).empty());
    // It is still a certificate to verify or encrypt with.
    ref::X509Shared cert = inventory_.ResolveCertificate({}, {}, Pki().ec.serial);
    ASSERT_TRUE(cert);
    EXPECT_EQ(ref::CertificateDer(cert.get()), ReadBytes(Pki().ec.der));
}

TEST_F(TokenInventory, OneCertificateInTwoPlacesIsNotAmbiguous) {
    const ref::CertEntry bySerial = inventory_.ResolveSigner({}, {}, Pki().rsa.serial);
    EXPECT_EQ(bySerial.source, ref::Source::kToken);
    const ref::CertEntry softOnly =
        inventory_.ResolveSigner({.tokens = false, .soft = true}, {}, Pki().rsa.serial);
    EXPECT_EQ(softOnly.source, ref::Source::kSoft);
}

TEST_F(TokenInventory, UriForms) {
    const std::string serial = token_.Serial();
    struct Case {
        std::string uri;
        int32_t code;
    };
    const Case cases[] = {
        {"pkcs11:token=store%20test;id=%01", ref::kOk},
        {"PKCS11:id=%01", ref::kOk},
        {"pkcs11:serial=" + serial + ";token=store%20test;id=%01;object=rsa?pin-value=x", ref::kOk},
        {"pkcs11:token=store%20test;id=%02", ref::kNoKey},
        {"pkcs11:token=store%20test;id=%09", ref::kNotFound},
        {"pkcs11:token=store%20test;serial=0000;id=%01", ref::kNoToken},
        {"pkcs11:token=other;id=%01", ref::kNoToken},
        {"pkcs11:token=store%20test;id=%0", ref::kBadParam},
        {"pkcs11:token=store%20test", ref::kBadParam},
    };
    for (const Case& c : cases) {
        ref::CertEntry entry;
        EXPECT_EQ(CodeOf([&] { entry = inventory_.ResolveSigner({}, {}, c.uri); }), c.code)
            << c.uri;
        if (c.code == ref::kOk) {
            EXPECT_EQ(entry.der, ReadBytes(Pki().rsa.der)) << c.uri;
        }
    }
}

TEST_F(TokenInventory, InfoOfATokenCertificate) {
    const ref::CertEntry entry = inventory_.ResolveSigner({}, {}, "pkcs11:id=%01");
    EXPECT_EQ(ref::CertificateInfoItem(entry, 14), token_.Serial());
    const std::string uri = ref::CertificateInfoItem(entry, 15);
    // p11tool's own URL of the object begins with the same attributes.
    const std::string listing =
        Sh("p11tool --provider " + std::string(SoftHsmToken::kModule) + " --list-all-certs");
    EXPECT_NE(listing.find("URL: " + uri + ";object=rsa;type=cert"), std::string::npos)
        << uri << "\n"
        << listing;
    // And it names the same certificate again.
    EXPECT_EQ(inventory_.ResolveSigner({}, {}, uri).der, entry.der);

    const ref::CertEntry soft = inventory_.ResolveSigner({}, {}, Pki().sm2.serial);
    EXPECT_EQ(ref::CertificateInfoItem(soft, 14), "");
    EXPECT_EQ(ref::CertificateInfoItem(soft, 15), "");
    EXPECT_EQ(ref::CertificateInfoItem(soft, 2), Pki().sm2.serial);
}

}  // namespace
