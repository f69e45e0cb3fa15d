// The software store: opening PKCS#12 files of every kind the user may
// bring, listing without a password, and writing private files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "StoreTestKit.h"
#include "core/Outcome.h"
#include "store/SoftStore.h"

namespace {

namespace fs = std::filesystem;
using ref::Bytes;
using ref::Secret;

const TestPki& Pki() {
    return TestPki::Shared();
}

int CodeOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ref::Failure& failure) {
        return failure.code();
    }
    return ref::kOk;
}

// The same certificate as the PEM file of an identity, compared as DER.
bool SameCertificate(X509* cert, const TestIdentity& identity) {
    return ref::CertificateDer(cert) == ReadBytes(identity.der);
}

struct OpenCase {
    const char* name;
    std::function<Bytes(const ScratchDir&)> file;
    const char* password;
    int32_t code;
    const TestIdentity* identity;  // whose certificate comes out on success
};

// Names the case in failure messages instead of its bytes.
void PrintTo(const OpenCase& c, std::ostream* os) {
    *os << c.name;
}

Bytes FromPki(const TestIdentity& identity, const std::string& password, bool legacy = false) {
    return ReadBytes(Pki().Pkcs12(identity, password, legacy));
}

Bytes Mismatched(const ScratchDir&) {
    // The key of one identity with the certificate of another, both marked as
    // belonging together, as a broken exporter might write them.
    ref::X509Ptr cert = LoadCert(Pki().ec.cert);
    ref::EvpPkeyPtr key = LoadKey(Pki().rsa.key);
    return BuildPfx({cert.get()}, key.get(), cert.get(), "pw");
}

const OpenCase kOpenCases[] = {
    {"Rsa", [](const ScratchDir&) { return FromPki(Pki().rsa, "pw"); }, "pw", ref::kOk, &Pki().rsa},
    {"Ec", [](const ScratchDir&) { return FromPki(Pki().ec, "pw"); }, "pw", ref::kOk, &Pki().ec},
    {"Sm2", [](const ScratchDir&) { return FromPki(Pki().sm2, "pw"); }, "pw", ref::kOk, &Pki().sm2},
    {"LegacyRc2", [](const ScratchDir&) { return FromPki(Pki().rsa, "pw", true); }, "pw", ref::kOk,
     &Pki().rsa},
    {"EmptyPassword", [](const ScratchDir&) { return FromPki(Pki().ec, ""); }, "", ref::kOk,
     &Pki().ec},
    {"WrongPassword", [](const ScratchDir&) { return FromPki(Pki().rsa, "pw"); }, "other",
     ref::kBadPin, nullptr},
    {"LegacyWrongPassword", [](const ScratchDir&) { return FromPki(Pki().rsa, "pw", true); },
     "other", ref::kBadPin, nullptr},
    {"CertificateNotPkcs12", [](const ScratchDir&) { return ReadBytes(Pki().rsa.der); }, "pw",
     ref::kMalformed, nullptr},
    {"Empty", [](const ScratchDir&) { return Bytes(); }, "pw", ref::kMalformed, nullptr},
    {"NoKey",
     [](const ScratchDir& dir) {
         Sh("openssl pkcs12 -export -nokeys -certpbe NONE -in " + Pki().rsa.cert +
            " -passout pass:pw -out " + dir / "nokey.p12");
         return ReadBytes(dir / "nokey.p12");
     },
     "pw", ref::kNoKey, nullptr},
    {"KeyOfAnotherCertificate", Mismatched, "pw", ref::kNoKey, nullptr},
};

class OpenTest : public testing::TestWithParam<OpenCase> {};

TEST_P(OpenTest, GivesKeyAndCertificateOrTheCode) {
    const OpenCase& c = GetParam();
    ScratchDir dir;
    const Bytes file = c.file(dir);
    ref::OpenedPfx opened;
    const int32_t code = CodeOf([&] { opened = ref::ParsePfx(file, Secret(c.password)); });
    ASSERT_EQ(code, c.code);
    if (c.code != ref::kOk) {
        return;
    }
    ASSERT_TRUE(opened.key && opened.cert && opened.chain);
    EXPECT_TRUE(SameCertificate(opened.cert.get(), *c.identity));
    EXPECT_EQ(X509_check_private_key(opened.cert.get(), opened.key.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(Pkcs12, OpenTest, testing::ValuesIn(kOpenCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(OpenTest, LegacyFileReallyUsesRc2) {
    const std::string path = Pki().Pkcs12(Pki().rsa, "pw", true);
    const std::string info = Sh("openssl pkcs12 -legacy -info -noout -passin pass:pw -in " + path);
    EXPECT_NE(info.find("RC2"), std::string::npos) << info;
}

TEST(OpenTest, Sm2KeyStaysSm2) {
    const ref::OpenedPfx opened = ref::ParsePfx(FromPki(Pki().sm2, "pw"), Secret("pw"));
    char group[64] = {};
    size_t length = 0;
    ASSERT_EQ(EVP_PKEY_get_group_name(opened.key.get(), group, sizeof group, &length), 1);
    EXPECT_STREQ(group, "SM2");
}

TEST(OpenTest, OpenReadsTheFileAndReportsAMissingOne) {
    ScratchDir dir;
    ref::SoftStore store(dir.path());
    const ref::OpenedPfx opened = store.Open(Pki().Pkcs12(Pki().rsa, "pw"), Secret("pw"));
    EXPECT_TRUE(SameCertificate(opened.cert.get(), Pki().rsa));
    EXPECT_EQ(CodeOf([&] { store.Open(dir / "absent.p12", Secret("pw")); }), ref::kFile);
}

// --- List ---------------------------------------------------------------

TEST(ListTest, MissingFolderIsAnEmptyStore) {
    ScratchDir dir;
    EXPECT_TRUE(ref::SoftStore(dir / "never-made").List().empty());
}

TEST(ListTest, ReadsOnlyRegularP12FilesWithVisibleCertificates) {
    ScratchDir dir;
    const std::string store = dir / "store";
    fs::create_directory(store);
    fs::copy_file(Pki().Pkcs12(Pki().rsa, "pw"), store + "/rsa.p12");
    // OpenSSL's default encrypts the certificates too: not listed, yet it opens.
    Sh("openssl pkcs12 -export -inkey " + Pki().ec.key + " -in " + Pki().ec.cert +
       " -passout pass:pw -out " + store + "/encrypted.p12");
    fs::copy_file(Pki().Pkcs12(Pki().sm2, "pw"), store + "/sm2.pfx");  // not *.p12
    fs::copy_file(Pki().Pkcs12(Pki().sm2, "pw"), dir / "outside.p12");
    fs::create_symlink(dir / "outside.p12", store + "/link.p12");
    fs::create_directory(store + "/folder.p12");
    WriteBytes(store + "/junk.p12", ref::AsBytes("not a PKCS#12 file at all"));
    WriteBytes(store + "/empty.p12", {});

    const std::vector<ref::SoftIdentity> listed = ref::SoftStore(store).List();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].path, store + "/rsa.p12");
    EXPECT_EQ(listed[0].certDer, ReadBytes(Pki().rsa.der));

    const ref::OpenedPfx opened =
        ref::SoftStore(store).Open(store + "/encrypted.p12", Secret("pw"));
    EXPECT_TRUE(SameCertificate(opened.cert.get(), Pki().ec));
}

TEST(ListTest, PicksTheEndEntityAmongSeveralCertificates) {
    ScratchDir dir;
    ref::X509Ptr ca = LoadCert(Pki().rsaCa.cert);
    ref::X509Ptr rsa = LoadCert(Pki().rsa.cert);
    ref::X509Ptr ec = LoadCert(Pki().ec.cert);
    ref::EvpPkeyPtr ecKey = LoadKey(Pki().ec.key);
    // Two leaves before the CA: only the key's localKeyID tells them apart.
    WriteBytes(dir / "by-key-id.p12",
               BuildPfx({rsa.get(), ec.get(), ca.get()}, ecKey.get(), ec.get(), "pw"));
    ScratchDir other;
    // No key at all, the CA first: the certificate that is not a CA.
    Sh("openssl pkcs12 -export -nokeys -certpbe NONE -in " + Pki().rsaCa.cert + " -certfile " +
       Pki().rsa.cert + " -passout pass:pw -out " + other / "no-key.p12");

    const auto byKeyId = ref::SoftStore(dir.path()).List();
    ASSERT_EQ(byKeyId.size(), 1u);
    EXPECT_EQ(byKeyId[0].certDer, ReadBytes(Pki().ec.der));
    const auto notCa = ref::SoftStore(other.path()).List();
    ASSERT_EQ(notCa.size(), 1u);
    EXPECT_EQ(notCa[0].certDer, ReadBytes(Pki().rsa.der));
}

// --- Write --------------------------------------------------------------

std::string Sha256Name(const TestIdentity& identity) {
    const std::string line = Sh("openssl dgst -sha256 -r " + identity.der);
    return line.substr(0, line.find(' ')) + ".p12";
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(WriteTest, MakesAPrivateFileNamedByTheCertificateThatOpensAgain) {
    ScratchDir dir;
    const std::string folder = dir / "data/zqtca/store";
    ref::SoftStore store(folder);
    ref::OpenedPfx source = ref::ParsePfx(FromPki(Pki().rsa, "old", true), Secret("old"));
    const std::string path =
        store.Write(source.key.get(), source.cert.get(), source.chain.get(), Secret("new pw"));

    EXPECT_EQ(path, folder + "/" + Sha256Name(Pki().rsa));
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(path), 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    const ref::OpenedPfx reopened = store.Open(path, Secret("new pw"));
    EXPECT_TRUE(SameCertificate(reopened.cert.get(), Pki().rsa));
    EXPECT_EQ(CodeOf([&] { store.Open(path, Secret("old")); }), ref::kBadPin);
    ASSERT_EQ(store.List().size(), 1u);
    EXPECT_TRUE(store.Contains(ReadBytes(Pki().rsa.der)));
    EXPECT_FALSE(store.Contains(ReadBytes(Pki().ec.der)));

    // What another tool sees: SHA-256 MAC, PBES2 with AES-256 for the key,
    // the certificate in plain data.
    const std::string info = Sh("openssl pkcs12 -info -noout -passin 'pass:new pw' -in " + path);
    EXPECT_NE(info.find("MAC: sha256"), std::string::npos) << info;
    EXPECT_NE(info.find("Shrouded Keybag: PBES2, PBKDF2, AES-256-CBC"), std::string::npos) << info;
    EXPECT_EQ(info.find("Encrypted data"), std::string::npos) << info;
}

TEST(WriteTest, SecondWriteOfACertificateReplacesItsFile) {
    ScratchDir dir;
    ref::SoftStore store(dir / "store");
    ref::OpenedPfx source = ref::ParsePfx(FromPki(Pki().sm2, "pw"), Secret("pw"));
    const std::string first =
        store.Write(source.key.get(), source.cert.get(), source.chain.get(), Secret("one"));
    const std::string second =
        store.Write(source.key.get(), source.cert.get(), nullptr, Secret("two"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "store"), fs::directory_iterator()), 1);
    EXPECT_EQ(CodeOf([&] { store.Open(second, Secret("one")); }), ref::kBadPin);
    const ref::OpenedPfx reopened = store.Open(second, Secret("two"));
    EXPECT_TRUE(SameCertificate(reopened.cert.get(), Pki().sm2));
}

TEST(WriteTest, EmptyPasswordRoundTrips) {
    ScratchDir dir;
    ref::SoftStore store(dir / "store");
    ref::OpenedPfx source = ref::ParsePfx(FromPki(Pki().ec, "pw"), Secret("pw"));
    const std::string path = store.Write(source.key.get(), source.cert.get(), nullptr, Secret(""));
    EXPECT_TRUE(SameCertificate(store.Open(path, Secret("")).cert.get(), Pki().ec));
    Sh("openssl pkcs12 -info -noout -passin pass: -in " + path);
}

struct RefusedFolder {
    const char* name;
    std::function<std::string(const ScratchDir&)> make;  // returns the store folder
};

// Names the case in failure messages instead of its bytes.
void PrintTo(const RefusedFolder& c, std::ostream* os) {
    *os << c.name;
}

const RefusedFolder kRefusedFolders[] = {
    {"SymbolicLink",
     [](const ScratchDir& dir) {
         fs::create_directory(dir / "real");
         chmod((dir / "real").c_str(), 0700);
         fs::create_directory_symlink(dir / "real", dir / "link");
         return dir / "link";
     }},
    {"SymbolicLinkWithTrailingSlash",
     [](const ScratchDir& dir) {
         fs::create_directory(dir / "real");
         chmod((dir / "real").c_str(), 0700);
         fs::create_directory_symlink(dir / "real", dir / "link");
         return dir / "link/";
     }},
    {"WritableByOthers",
     [](const ScratchDir& dir) {
         fs::create_directory(dir / "real");
         chmod((dir / "real").c_str(), 0777);
         return dir / "real";
     }},
    {"RegularFile",
     [](const ScratchDir& dir) {
         WriteBytes(dir / "real", ref::AsBytes("x"));
         return dir / "real";
     }},
};

class RefusedFolderTest : public testing::TestWithParam<RefusedFolder> {};

TEST_P(RefusedFolderTest, WriteFailsAndLeavesNothing) {
    ScratchDir dir;
    const std::string folder = GetParam().make(dir);
    ref::OpenedPfx source = ref::ParsePfx(FromPki(Pki().ec, "pw"), Secret("pw"));
    EXPECT_EQ(CodeOf([&] {
                  ref::SoftStore(folder).Write(source.key.get(), source.cert.get(), nullptr,
                                               Secret("pw"));
              }),
              ref::kFile);
    if (fs::is_directory(dir / "real")) {
        EXPECT_TRUE(fs::is_empty(dir / "real"));
    }
}

INSTANTIATE_TEST_SUITE_P(Store, RefusedFolderTest, testing::ValuesIn(kRefusedFolders),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(WriteTest, RefusesAKeyOfAnotherCertificate) {
    ScratchDir dir;
    ref::X509Ptr cert = LoadCert(Pki().rsa.cert);
    ref::EvpPkeyPtr key = LoadKey(Pki().ec.key);
    EXPECT_EQ(CodeOf([&] {
                  ref::SoftStore(dir / "store").Write(key.get(), cert.get(), nullptr, Secret("pw"));
              }),
              ref::kNoKey);
    EXPECT_FALSE(fs::exists(dir / "store") && !fs::is_empty(dir / "store"));
}

}  // namespace
