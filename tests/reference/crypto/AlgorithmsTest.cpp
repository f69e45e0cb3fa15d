// Hash names, key kinds and the SM2 id on certificates.

#include <gtest/gtest.h>

#include "crypto/Algorithms.h"
#include "crypto/CryptoTestSupport.h"

namespace ref::test {
namespace {

struct HashNameCase {
    const char* text;
    std::optional<Hash> hash;
};

class ParseHashTest : public testing::TestWithParam<HashNameCase> {};

TEST_P(ParseHashTest, ReadsTheName) {
    EXPECT_EQ(ParseHash(GetParam().text), GetParam().hash);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParseHashTest,
    testing::Values(HashNameCase{"SHA1", Hash::kSha1}, HashNameCase{"sha-256", Hash::kSha256},
                    HashNameCase{"Sha384", Hash::kSha384}, HashNameCase{"SHA-512", Hash::kSha512},
                    HashNameCase{"sm3", Hash::kSm3}, HashNameCase{"MD5", std::nullopt},
                    HashNameCase{"SHA", std::nullopt}, HashNameCase{"SHA2566", std::nullopt},
                    HashNameCase{"", std::nullopt}));

TEST(HashTest, SizesAndNamesAgreeWithOpenssl) {
    for (Hash hash : {Hash::kSha1, Hash::kSha256, Hash::kSha384, Hash::kSha512, Hash::kSm3}) {
        EXPECT_EQ(HashSize(hash), static_cast<size_t>(EVP_MD_get_size(HashMd(hash))));
        EXPECT_EQ(ParseHash(HashName(hash)), hash);
    }
}

TEST(KindOfTest, NamesEveryKeyOfTheTestPki) {
    EXPECT_EQ(KindOf(LoadPrivateKey(Pki().rsa).get()), KeyKind::kRsa);
    EXPECT_EQ(KindOf(LoadPrivateKey(Pki().ec).get()), KeyKind::kEc);
    EXPECT_EQ(KindOf(LoadPrivateKey(Pki().sm2).get()), KeyKind::kSm2);
    EXPECT_EQ(KindOf(LoadPublicKey(Pki().sm2).get()), KeyKind::kSm2);
    EXPECT_EQ(KindOf(AsLegacyKey(Pki().rsa).get()), KeyKind::kRsa);
    EXPECT_EQ(KindOf(AsLegacyKey(Pki().ec).get()), KeyKind::kEc);
    EXPECT_EQ(KindOf(AsLegacyKey(Pki().sm2).get()), KeyKind::kSm2);
    EXPECT_EQ(KindOf(NewPlainEcKeyOnSm2Curve().get()), KeyKind::kSm2);
    EvpPkeyPtr ed(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    EXPECT_EQ(KindOf(ed.get()), KeyKind::kOther);
    EXPECT_EQ(KindOf(nullptr), KeyKind::kOther);
}

// The SM2 leaf was issued with the GM id: its signature verifies only
// once the certificate carries that id.
TEST(SetSm2CertificateIdTest, MakesTheIssuerSignatureVerify) {
    X509Ptr leaf = LoadCertificate(Pki().sm2);
    EvpPkeyPtr caKey = LoadPublicKey(Pki().sm2Ca);
    EXPECT_NE(X509_verify(leaf.get(), caKey.get()), 1);

    SetSm2CertificateId(leaf.get());
    EXPECT_EQ(X509_verify(leaf.get(), caKey.get()), 1);

    SetSm2CertificateId(leaf.get(), "another id");
    EXPECT_NE(X509_verify(leaf.get(), caKey.get()), 1);
}

TEST(SetSm2CertificateIdTest, LeavesOtherCertificatesAlone) {
    X509Ptr leaf = LoadCertificate(Pki().rsa);
    EvpPkeyPtr caKey = LoadPublicKey(Pki().rsaCa);
    SetSm2CertificateId(leaf.get());
    SetSm2CertificateId(nullptr);
    EXPECT_EQ(X509_verify(leaf.get(), caKey.get()), 1);
}

}  // namespace
}  // namespace ref::test
