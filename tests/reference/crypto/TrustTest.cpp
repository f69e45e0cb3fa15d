// Chain and validity checks against the test PKI's anchors.

#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/Trust.h"

namespace ref::test {
namespace {

Config TrustConfig(const std::string& trustDir) {
    Config config;
    config.systemTrustFile.clear();
    config.trustDir = trustDir;
    return config;
}

struct TrustCase {
    const char* name;
    TestIdentity TestPki::*identity;
    bool checkChain;
    int32_t code;
    const char* messagePart;
};

void PrintTo(const TrustCase& c, std::ostream* os) {
    *os << c.name;
}

class TrustCheckTest : public testing::TestWithParam<TrustCase> {};

TEST_P(TrustCheckTest, AnswersTheExpectedCode) {
    const TrustCase& c = GetParam();
    const Config config = TrustConfig(Pki().TrustDir());
    TrustStore trust(config);
    X509Ptr cert = LoadCertificate(Pki().*c.identity);
    std::string message;

    EXPECT_EQ(trust.Check(cert.get(), nullptr, c.checkChain, message), c.code) << message;
    EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Leaves, TrustCheckTest,
    testing::Values(TrustCase{"Rsa", &TestPki::rsa, true, kOk, "OK"},
                    TrustCase{"Ec", &TestPki::ec, true, kOk, "OK"},
                    // Verifies only with the GM id on the certificate.
                    TrustCase{"Sm2", &TestPki::sm2, true, kOk, "OK"},
                    TrustCase{"RsaAnchorItself", &TestPki::rsaCa, true, kOk, "OK"},
                    TrustCase{"Expired", &TestPki::expired, true, kExpired, "expired"},
                    TrustCase{"ExpiredNoChain", &TestPki::expired, false, kExpired, "expired"},
                    TrustCase{"SelfSigned", &TestPki::untrusted, true, kUntrusted, "self-signed"},
                    TrustCase{"SelfSignedNoChain", &TestPki::untrusted, false, kOk, "OK"}),
    CaseName());

TEST(TrustStoreTest, WithoutTheAnchorsNothingIsTrusted) {
    const Config config = TrustConfig(Pki().dir + "/no such folder");
    TrustStore trust(config);
    X509Ptr cert = LoadCertificate(Pki().rsa);
    std::string message;
    EXPECT_EQ(trust.Check(cert.get(), nullptr, true, message), kUntrusted);
    EXPECT_NE(message.find("local issuer"), std::string::npos) << message;
    EXPECT_EQ(trust.Check(cert.get(), nullptr, false, message), kOk);
}

TEST(TrustStoreTest, SystemBundleIsAnAnchorSourceToo) {
    Config config = TrustConfig("");
    config.systemTrustFile = Pki().rsaCa.cert;
    TrustStore trust(config);
    X509Ptr rsa = LoadCertificate(Pki().rsa);
    X509Ptr sm2 = LoadCertificate(Pki().sm2);
    std::string message;
    EXPECT_EQ(trust.Check(rsa.get(), nullptr, true, message), kOk) << message;
    EXPECT_EQ(trust.Check(sm2.get(), nullptr, true, message), kUntrusted) << message;
}

// A leaf in the trust folder is no anchor: partial chains do not count.
TEST(TrustStoreTest, TrustedLeafWithoutItsIssuerIsNotEnough) {
    const std::string dir = Pki().dir + "/leaf-only-trust";
    RunShell("mkdir -p " + ShellQuote(dir) + " && cp " + ShellQuote(Pki().rsa.cert) + " " +
             ShellQuote(dir + "/leaf.pem"));
    const Config config = TrustConfig(dir);
    TrustStore trust(config);
    X509Ptr cert = LoadCertificate(Pki().rsa);
    std::string message;
    EXPECT_EQ(trust.Check(cert.get(), nullptr, true, message), kUntrusted) << message;
}

// The same SM2 CA issuing with OpenSSL's empty id: the signature on that
// leaf does not verify under the GM id, so the chain fails.
TEST(TrustStoreTest, Sm2LeafIssuedWithTheEmptyIdIsRejected) {
    const std::string base = Pki().dir + "/emptyid";
    std::string output;
    ASSERT_TRUE(Openssl("req -new -key " + Pki().sm2.key + " -sm3 -subj /CN=empty -out " + base +
                            ".csr -config " + Pki().dir + "/pki.cnf",
                        &output))
        << output;
    ASSERT_TRUE(Openssl("x509 -req -in " + base + ".csr -CA " + Pki().sm2Ca.cert + " -CAkey " +
                            Pki().sm2Ca.key + " -sm3 -set_serial 7 -days 30 -out " + base + ".pem",
                        &output))
        << output;
    TestIdentity emptyId;
    emptyId.cert = base + ".pem";
    const Config config = TrustConfig(Pki().TrustDir());
    TrustStore trust(config);
    X509Ptr cert = LoadCertificate(emptyId);
    std::string message;
    EXPECT_EQ(trust.Check(cert.get(), nullptr, true, message), kUntrusted);
    EXPECT_NE(message.find("signature"), std::string::npos) << message;
}

TEST(TrustStoreTest, ReloadPicksUpNewAnchors) {
    const std::string dir = Pki().dir + "/growing-trust";
    RunShell("mkdir -p " + ShellQuote(dir));
    const Config config = TrustConfig(dir);
    TrustStore trust(config);
    X509Ptr cert = LoadCertificate(Pki().ec);
    std::string message;
    ASSERT_EQ(trust.Check(cert.get(), nullptr, true, message), kUntrusted);

    RunShell("cp " + ShellQuote(Pki().rsaCa.cert) + " " + ShellQuote(dir + "/ca.pem"));
    trust.Reload();
    EXPECT_EQ(trust.Check(cert.get(), nullptr, true, message), kOk) << message;
}

}  // namespace
}  // namespace ref::test
