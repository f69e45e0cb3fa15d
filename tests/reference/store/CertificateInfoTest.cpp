// GetCertInfo's items, checked against what `openssl x509` prints.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "StoreTestKit.h"
#include "core/Outcome.h"
#include "inventory/CertificateInfo.h"

namespace {

const TestPki& Pki() {
    return TestPki::Shared();
}

std::string Openssl(const std::string& certPath, const std::string& options) {
    return Sh("openssl x509 -noout -in " + ShellQuote(certPath) + " " + options);
}

// The value after "name=" on the first line of an `openssl x509` query.
std::string Field(const std::string& certPath, const std::string& options,
                  const std::string& name) {
    const std::string out = Openssl(certPath, options);
    const size_t at = out.find(name + "=");
    EXPECT_NE(at, std::string::npos) << out;
    const size_t begin = at + name.size() + 1;
    return out.substr(begin, out.find('\n', begin) - begin);
}

std::string Captured(const std::string& text, const std::string& pattern) {
    std::smatch match;
    EXPECT_TRUE(std::regex_search(text, match, std::regex(pattern))) << pattern << "\n" << text;
    return match.size() > 1 ? match[1].str() : std::string();
}

std::string WithoutColons(std::string text) {
    std::erase(text, ':');
    return text;
}

std::string IsoDate(const std::string& certPath, const std::string& which) {
    std::string text = Field(certPath, "-dates -dateopt iso_8601", which);
    std::replace(text.begin(), text.end(), ' ', 'T');  // "2026-12-09 15:57:00Z"
    return text;
}

// The key usage line of `openssl x509 -ext keyUsage`, in the names of the
// extension's definition.
std::string KeyUsageOracle(const std::string& certPath) {
    const std::string out = Openssl(certPath, "-ext keyUsage");
    const size_t line = out.find('\n');
    if (out.find("Key Usage") == std::string::npos || line == std::string::npos) {
        return "";
    }
    static const std::map<std::string, std::string> kNames = {
        {"Digital Signature", "digitalSignature"},
        {"Non Repudiation", "nonRepudiation"},
        {"Key Encipherment", "keyEncipherment"},
        {"Data Encipherment", "dataEncipherment"},
        {"Key Agreement", "keyAgreement"},
        {"Certificate Sign", "keyCertSign"},
        {"CRL Sign", "cRLSign"},
        {"Encipher Only", "encipherOnly"},
        {"Decipher Only", "decipherOnly"}};
    std::stringstream words(out.substr(line + 1));
    std::string word;
    std::string result;
    while (std::getline(words, word, ',')) {
        const size_t begin = word.find_first_not_of(" \n");
        const size_t end = word.find_last_not_of(" \n");
        const auto name = kNames.find(word.substr(begin, end - begin + 1));
        EXPECT_NE(name, kNames.end()) << word;
        if (name != kNames.end()) {
            result += (result.empty() ? "" : ",") + name->second;
        }
    }
    return result;
}

struct InfoCase {
    const char* name;
    std::function<std::string()> certPath;  // a PEM file
    const char* cn;
    const char* algorithm;
};

// Names the case in failure messages instead of its bytes.
void PrintTo(const InfoCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Utf8Subject() {
    static const std::string path = [] {
        const std::string dir = Pki().dir;
        const std::string p = dir + "/utf8-subject.pem";
        Sh("cd " + ShellQuote(dir) + " && openssl req -x509 -new -utf8 -key " + Pki().ec.key +
           " -subj '/O=Zürich \"Büro\"/CN=张三 \\\\ test' -days 5 -out " + p);
        return p;
    }();
    return path;
}

const InfoCase kInfoCases[] = {
    {"Rsa", [] { return Pki().rsa.cert; }, "rsa leaf", "RSA"},
    {"Ec", [] { return Pki().ec.cert; }, "ec leaf", "EC"},
    {"Sm2", [] { return Pki().sm2.cert; }, "sm2 leaf", "SM2"},
    {"Sm2Ca", [] { return Pki().sm2Ca.cert; }, "sm2 ca", "SM2"},
    {"Expired", [] { return Pki().expired.cert; }, "expired leaf", "RSA"},
    {"Utf8Subject", Utf8Subject, "张三 \\ test", "EC"},
};

class CertificateInfoTest : public testing::TestWithParam<InfoCase> {};

TEST_P(CertificateInfoTest, ItemsAgreeWithOpenssl) {
    const InfoCase& c = GetParam();
    const std::string path = c.certPath();
    ref::X509Ptr cert = LoadCert(path);
    auto item = [&](int32_t n) { return ref::CertificateInfoItem(cert.get(), n); };
    const std::string text = Openssl(path, "-text");

    EXPECT_EQ(item(1) + "\n", Sh("openssl x509 -outform DER -in " + ShellQuote(path) +
                                 " | openssl base64 -A; echo"));
    EXPECT_EQ(item(2), Field(path, "-serial", "serial"));
    EXPECT_EQ(item(3), Field(path, "-subject -nameopt RFC2253,-esc_msb", "subject"));
    EXPECT_EQ(item(4), Field(path, "-issuer -nameopt RFC2253,-esc_msb", "issuer"));
    EXPECT_EQ(item(5), IsoDate(path, "notBefore"));
    EXPECT_EQ(item(6), IsoDate(path, "notAfter"));
    EXPECT_EQ(item(7), c.cn);
    EXPECT_EQ(item(8), c.algorithm);
    EXPECT_EQ(item(9), Captured(text, R"(Public-Key: \((\d+) bit\))"));
    EXPECT_EQ(item(10), KeyUsageOracle(path));
    EXPECT_EQ(item(11), WithoutColons(Field(path, "-fingerprint -sha1", "Fingerprint")));
    EXPECT_EQ(item(12), WithoutColons(Field(path, "-fingerprint -sha256", "Fingerprint")));
    EXPECT_EQ(item(13), Captured(text, R"(Signature Algorithm: (\S+))"));
    EXPECT_EQ(item(14), "");
    EXPECT_EQ(item(15), "");

    const nlohmann::json all = nlohmann::json::parse(item(16));
    const std::pair<const char*, int32_t> names[] = {
        {"cert", 1},         {"sn", 2},       {"subject", 3}, {"issuer", 4},
        {"notBefore", 5},    {"notAfter", 6}, {"cn", 7},      {"keyAlgorithm", 8},
        {"keyUsage", 10},    {"sha1", 11},    {"sha256", 12}, {"signatureAlgorithm", 13},
        {"tokenSerial", 14}, {"uri", 15}};
    for (const auto& [name, number] : names) {
        ASSERT_TRUE(all.contains(name)) << name;
        EXPECT_EQ(all[name].get<std::string>(), item(number)) << name;
    }
    EXPECT_EQ(all["keyBits"].get<int>(), std::stoi(item(9)));
}

INSTANTIATE_TEST_SUITE_P(Certificates, CertificateInfoTest, testing::ValuesIn(kInfoCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(CertificateInfoItems, OutsideOneToSixteenIsABadParameter) {
    ref::X509Ptr cert = LoadCert(Pki().rsa.cert);
    for (int32_t item : {0, 17, -1, 100}) {
        try {
            ref::CertificateInfoItem(cert.get(), item);
            ADD_FAILURE() << "item " << item << " answered";
        } catch (const ref::Failure& failure) {
            EXPECT_EQ(failure.code(), ref::kBadParam) << item;
        }
    }
}

TEST(CertificateInfoItems, JsonEscapesWhatTheNameHolds) {
    const std::string cn = "quote\" back\\slash\ttab\x01 \x1f end \xe5\xbc\xa0";
    MadeCert made = MakeCert({.cn = cn, .keyUsage = ""});
    const std::string json = ref::CertificateInfoItem(made.cert.get(), 16);
    EXPECT_EQ(json.find('\t'), std::string::npos);
    EXPECT_EQ(json.find('\x01'), std::string::npos);
    const nlohmann::json parsed = nlohmann::json::parse(json);
    EXPECT_EQ(parsed["cn"].get<std::string>(), cn);
    EXPECT_EQ(parsed["keyUsage"].get<std::string>(), "");
    EXPECT_EQ(parsed["subject"].get<std::string>(), ref::CertificateInfoItem(made.cert.get(), 3));
}

TEST(CertificateInfoItems, JsonQuoteTable) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "\"\""},
        {"plain", "\"plain\""},
        {"a\"b", "\"a\\\"b\""},
        {"a\\b", "\"a\\\\b\""},
        {"\n\r\t\b\f", "\"\\n\\r\\t\\b\\f\""},
        {std::string("\x00\x1f", 2), "\"\\u0000\\u001F\""},
        {"\xe5\xbc\xa0", "\"\xe5\xbc\xa0\""},
    };
    for (const auto& [text, quoted] : cases) {
        EXPECT_EQ(ref::JsonQuote(text), quoted);
    }
}

}  // namespace
