#include <stdio.h>
#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>
#include <mbedtls/oid.h>
#include <mbedtls/x509.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>

#include "ScratchDir.h"
#include "app/MakeCert.h"
#include "app/MbedtlsObject.h"
#include "app/SelfSignedCertificate.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a shell command and gives its standard output; empty when it failed.
std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    char chunk[4096];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, got);
    }
    return ::pclose(pipe) == 0 ? out : std::string();
}

bool HaveOpenssl() {
    return std::system("openssl version >/dev/null 2>&1") == 0;
}

std::time_t ToTime(const mbedtls_x509_time& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.mon - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.min;
    tm.tm_sec = t.sec;
    return ::timegm(&tm);
}

// "Not Before: Mar  5 12:00:00 2025 GMT" -> seconds.
std::time_t OpensslDate(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) {
        return -1;
    }
    std::tm tm{};
    const char* rest = ::strptime(text.c_str() + at + label.size(), " %b %d %H:%M:%S %Y GMT", &tm);
    return rest ? ::timegm(&tm) : -1;
}

class MakeCertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        before = std::time(nullptr);
        const zqt::MakeCertResult result = zqt::MakeCertificateFiles(dir.path().string());
        ASSERT_TRUE(result.ok) << result.message;
        EXPECT_NE(result.message.find(certPath), std::string::npos) << result.message;
        EXPECT_NE(result.message.find(keyPath), std::string::npos) << result.message;
        after = std::time(nullptr);
        ASSERT_EQ(mbedtls_x509_crt_parse_file(crt.get(), certPath.c_str()), 0);
        ASSERT_EQ(mbedtls_pk_parse_keyfile(key.get(), keyPath.c_str(), nullptr), 0);
    }

    ScratchDir dir;
    const std::string certPath = dir.file("ssl_crt.pem");
    const std::string keyPath = dir.file("ssl_key.pem");
    std::time_t before = 0;
    std::time_t after = 0;
    zqt::X509Crt crt;
    zqt::PkContext key;
};

TEST_F(MakeCertTest, KeyMatchesTheCertificate) {
    EXPECT_EQ(mbedtls_pk_check_pair(&crt.get()->pk, key.get()), 0);
    ASSERT_EQ(mbedtls_pk_get_type(key.get()), MBEDTLS_PK_ECKEY);
    EXPECT_EQ(mbedtls_pk_ec(*key.get())->grp.id, MBEDTLS_ECP_DP_SECP256R1);
}

TEST_F(MakeCertTest, KeyFileIsPrivate) {
    struct stat info {};
    ASSERT_EQ(::stat(keyPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(certPath.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0600, 0600u);
}

TEST_F(MakeCertTest, CertificateNamesTheLoopbackServer) {
    const mbedtls_x509_crt* c = crt.get();
    char name[128];
    ASSERT_GT(mbedtls_x509_dn_gets(name, sizeof name, &c->subject), 0);
    EXPECT_STREQ(name, "CN=127.0.0.1");
    ASSERT_GT(mbedtls_x509_dn_gets(name, sizeof name, &c->issuer), 0);
    EXPECT_STREQ(name, "CN=127.0.0.1");
    EXPECT_EQ(c->version, 3);
    EXPECT_EQ(c->ca_istrue, 0);
    EXPECT_EQ(c->sig_md, MBEDTLS_MD_SHA256);
    EXPECT_EQ(mbedtls_x509_crt_check_key_usage(
                  c, MBEDTLS_X509_KU_DIGITAL_SIGNATURE | MBEDTLS_X509_KU_KEY_AGREEMENT),
              0);
    EXPECT_NE(mbedtls_x509_crt_check_key_usage(c, MBEDTLS_X509_KU_KEY_CERT_SIGN), 0);
    EXPECT_EQ(mbedtls_x509_crt_check_extended_key_usage(c, MBEDTLS_OID_SERVER_AUTH,
                                                        MBEDTLS_OID_SIZE(MBEDTLS_OID_SERVER_AUTH)),
              0);
    EXPECT_NE(mbedtls_x509_crt_check_extended_key_usage(c, MBEDTLS_OID_CLIENT_AUTH,
                                                        MBEDTLS_OID_SIZE(MBEDTLS_OID_CLIENT_AUTH)),
              0);
}

TEST_F(MakeCertTest, VerifiesAsItselfForLocalhost) {
    std::uint32_t flags = 0;
    EXPECT_EQ(mbedtls_x509_crt_verify(crt.get(), crt.get(), nullptr, "localhost", &flags, nullptr,
                                      nullptr),
              0)
        << std::hex << flags;
    EXPECT_NE(mbedtls_x509_crt_verify(crt.get(), crt.get(), nullptr, "example.com", &flags, nullptr,
                                      nullptr),
              0);
    EXPECT_TRUE(flags & MBEDTLS_X509_BADCERT_CN_MISMATCH);
}

TEST_F(MakeCertTest, ValidFromNowFor825Days) {
    const std::time_t from = ToTime(crt.get()->valid_from);
    const std::time_t to = ToTime(crt.get()->valid_to);
    EXPECT_GE(from, before - 1);
    EXPECT_LE(from, after + 1);
    EXPECT_EQ(to - from, std::time_t{825} * 86400);
}

TEST_F(MakeCertTest, SerialIsPositiveAndFresh) {
    const mbedtls_x509_buf& serial = crt.get()->serial;
    ASSERT_GE(serial.len, 8u);
    EXPECT_EQ(serial.p[0] & 0x80, 0);

    ScratchDir other;
    ASSERT_TRUE(zqt::MakeCertificateFiles(other.path().string()).ok);
    zqt::X509Crt second;
    ASSERT_EQ(mbedtls_x509_crt_parse_file(second.get(), other.file("ssl_crt.pem").c_str()), 0);
    const mbedtls_x509_buf& again = second.get()->serial;
    EXPECT_FALSE(serial.len == again.len && std::equal(serial.p, serial.p + serial.len, again.p));
    EXPECT_NE(Read(keyPath), Read(other.file("ssl_key.pem")));
}

TEST_F(MakeCertTest, OpensslReadsTheExtensions) {
    if (!HaveOpenssl()) {
        GTEST_SKIP() << "no openssl";
    }
    const std::string text = Output("openssl x509 -noout -text -in '" + certPath + "'");
    ASSERT_FALSE(text.empty());
    for (const char* expected :
         {"IP Address:127.0.0.1", "DNS:localhost", "TLS Web Server Authentication",
          "Digital Signature, Key Agreement", "CA:FALSE", "Subject: CN = 127.0.0.1",
          "Issuer: CN = 127.0.0.1", "id-ecPublicKey", "NIST CURVE: P-256", "ecdsa-with-SHA256",
          "Version: 3"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
    }
    const std::time_t from = OpensslDate(text, "Not Before:");
    const std::time_t to = OpensslDate(text, "Not After :");
    ASSERT_GT(from, 0) << text;
    EXPECT_EQ(to - from, std::time_t{825} * 86400);
}

TEST_F(MakeCertTest, OpensslSeesTheSamePublicKey) {
    if (!HaveOpenssl()) {
        GTEST_SKIP() << "no openssl";
    }
    const std::string fromCert = Output("openssl x509 -noout -pubkey -in '" + certPath + "'");
    const std::string fromKey = Output("openssl pkey -pubout -in '" + keyPath + "'");
    ASSERT_FALSE(fromCert.empty());
    EXPECT_EQ(fromCert, fromKey);
}

struct ExistingCase {
    const char* label;
    const char* existing;
    const char* absent;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ExistingCase& c, std::ostream* os) {
    *os << c.label;
}

class MakeCertRefusesExisting : public ::testing::TestWithParam<ExistingCase> {};

TEST_P(MakeCertRefusesExisting, AndWritesNothing) {
    const ExistingCase& c = GetParam();
    ScratchDir dir;
    const std::string existing = dir.file(c.existing);
    { std::ofstream(existing) << "keep me"; }
    const zqt::MakeCertResult result = zqt::MakeCertificateFiles(dir.path().string());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find(existing), std::string::npos) << result.message;
    EXPECT_EQ(Read(existing), "keep me");
    EXPECT_FALSE(fs::exists(dir.file(c.absent)));
}

const ExistingCase kExistingCases[] = {
    {"Certificate", "ssl_crt.pem", "ssl_key.pem"},
    {"Key", "ssl_key.pem", "ssl_crt.pem"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MakeCertRefusesExisting, ::testing::ValuesIn(kExistingCases),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(MakeCert, BothExistingAreLeftAlone) {
    ScratchDir dir;
    { std::ofstream(dir.file("ssl_crt.pem")) << "crt"; }
    { std::ofstream(dir.file("ssl_key.pem")) << "key"; }
    EXPECT_FALSE(zqt::MakeCertificateFiles(dir.path().string()).ok);
    EXPECT_EQ(Read(dir.file("ssl_crt.pem")), "crt");
    EXPECT_EQ(Read(dir.file("ssl_key.pem")), "key");
}

TEST(MakeCert, MissingDirectoryFails) {
    const zqt::MakeCertResult result = zqt::MakeCertificateFiles("/nonexistent/zqt-app-certs");
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.message.find("/nonexistent/zqt-app-certs"), std::string::npos);
}

TEST(X509Time, IsUtcDigits) {
    EXPECT_EQ(zqt::X509Time(0), "19700101000000");
    EXPECT_EQ(zqt::X509Time(1700000000), "20231114221320");
    EXPECT_EQ(zqt::X509Time(951782400), "20000229000000");
}

TEST(SecretText, MovingLeavesNothingBehind) {
    zqt::SecretText first;
    first.value() = "short";
    zqt::SecretText second(std::move(first));
    EXPECT_EQ(second.value(), "short");
    EXPECT_TRUE(first.value().empty());  // NOLINT(bugprone-use-after-move): that is the point
}

}  // namespace
