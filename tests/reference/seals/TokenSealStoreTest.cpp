// Seals and licence data on a SoftHSM token and in the store's folders,
// through the seal store as the methods use it.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/Outcome.h"
#include "inventory/Inventory.h"
#include "seals/Licence.h"
#include "seals/SealStore.h"
#include "support/SoftHsmToken.h"

namespace {

namespace fs = std::filesystem;
using ref::Bytes;

class TokenSealStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/seal-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        token = std::make_unique<SoftHsmToken>(root + "/softhsm", "Seal Token");
        token->Import(TestPki::Shared().rsa, "01", "rsa key");
        registry = std::make_unique<ref::Pkcs11Registry>(
            std::vector<std::string>{SoftHsmToken::kModule}, false);
        store = std::make_unique<ref::SoftStore>(root + "/store");
        ref::Inventory inventory(*registry, *store);
        const std::vector<ref::CertEntry> entries = inventory.Scan({true, false, true});
        ASSERT_EQ(entries.size(), 1u);
        entry = entries[0];
    }
    void TearDown() override {
        registry.reset();
        fs::remove_all(root);
    }

    ref::TokenLogin Login() {
        return [this](ref::TokenSession& session) {
            ++logins;
            const ref::Secret pin(SoftHsmToken::kPin);
            session.Login(&pin);
        };
    }
    std::string SealDir() const { return root + "/seals"; }
    std::vector<ref::StoredSeal> List() { return ref::ListSeals(*registry, SealDir()); }

    std::string root;
    std::unique_ptr<SoftHsmToken> token;
    std::unique_ptr<ref::Pkcs11Registry> registry;
    std::unique_ptr<ref::SoftStore> store;
    ref::CertEntry entry;
    int logins = 0;
};

Bytes Pattern(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + (i >> 9));
    return bytes;
}

TEST_F(TokenSealStoreTest, WrittenToTheTokenListedWithoutLogin) {
    ref::WriteSeal(*registry, SealDir(), entry, {"Finance", 1, "png", "", Pattern(100)}, Login());
    EXPECT_EQ(logins, 1);
    const std::vector<ref::StoredSeal> seals = List();
    ASSERT_EQ(seals.size(), 1u);
    EXPECT_EQ(seals[0].store, "pkcs11");
    EXPECT_EQ(seals[0].token.label, "Seal Token");
    EXPECT_EQ(seals[0].keyId, Bytes{0x01});
    EXPECT_EQ(seals[0].record.certSn, TestPki::Shared().rsa.serial) << "bound to the writer";
    EXPECT_EQ(seals[0].record.data, Pattern(100));
    EXPECT_FALSE(fs::exists(SealDir())) << "nothing in the store";
}

TEST_F(TokenSealStoreTest, ReplacesByNameAndType) {
    ref::WriteSeal(*registry, SealDir(), entry, {"S", 1, "", "", Pattern(10)}, Login());
    ref::WriteSeal(*registry, SealDir(), entry, {"S", 2, "der", "", Pattern(20)}, Login());
    ref::WriteSeal(*registry, SealDir(), entry, {"S", 1, "", "", Pattern(30)}, Login());
    const std::vector<ref::StoredSeal> seals = List();
    ASSERT_EQ(seals.size(), 2u);
    for (const ref::StoredSeal& seal : seals)
        EXPECT_EQ(seal.record.data.size(), seal.record.type == 1 ? 30u : 20u);
}

TEST_F(TokenSealStoreTest, AMegabytePictureOnTheToken) {
    const Bytes picture = Pattern(1 << 20);
    ref::WriteSeal(*registry, SealDir(), entry, {"big", 1, "png", "", picture}, Login());
    const std::vector<ref::StoredSeal> seals = List();
    ASSERT_EQ(seals.size(), 1u);
    EXPECT_EQ(seals[0].record.data, picture);
}

TEST_F(TokenSealStoreTest, RefusesEmptyUntypedAndAbsurdSeals) {
    const ref::SealRecord bad[] = {
        {"", 1, "", "", Pattern(1)},
        {"n", 0, "", "", Pattern(1)},
        {"n", 1, "", "", {}},
        {"n", 1, "", "", Bytes((8u << 20) + 1)},
    };
    for (const ref::SealRecord& record : bad) {
        try {
            ref::WriteSeal(*registry, SealDir(), entry, record, Login());
            ADD_FAILURE() << "written";
        } catch (const ref::Failure& failure) {
            EXPECT_EQ(failure.code(), ref::kBadParam);
        }
    }
    EXPECT_EQ(logins, 0) << "refused before asking";
    EXPECT_TRUE(List().empty());
}

TEST_F(TokenSealStoreTest, SoftCertificatesWriteToTheFolder) {
    ref::CertEntry soft = entry;
    soft.source = ref::Source::kSoft;
    ref::WriteSeal(*registry, SealDir(), soft, {"soft seal", 1, "", "", Pattern(5)}, Login());
    EXPECT_EQ(logins, 0);
    const std::vector<ref::StoredSeal> seals = List();
    ASSERT_EQ(seals.size(), 1u);
    EXPECT_EQ(seals[0].store, "soft");
    EXPECT_EQ(seals[0].record.certSn, TestPki::Shared().rsa.serial);
}

TEST_F(TokenSealStoreTest, APulledTokenHasNoSealsAndCannotBeWritten) {
    ref::WriteSeal(*registry, SealDir(), entry, {"S", 1, "", "", Pattern(10)}, Login());
    token->Delete();
    EXPECT_TRUE(List().empty());
    try {
        ref::WriteSeal(*registry, SealDir(), entry, {"S", 1, "", "", Pattern(10)}, Login());
        ADD_FAILURE() << "written";
    } catch (const ref::Failure& failure) {
        EXPECT_EQ(failure.code(), ref::kNoToken);
    }
}

TEST_F(TokenSealStoreTest, LicenceDataIsPrivateOnTheToken) {
    const Bytes licence = Pattern(300);
    ref::WriteLicence(*registry, root + "/licence", entry, "lic", licence, Login());
    ref::WriteLicence(*registry, root + "/licence", entry, "lic", Pattern(301), Login());
    EXPECT_EQ(ref::ReadLicence(*registry, root + "/licence", entry, "lic", Login()), Pattern(301));
    EXPECT_EQ(logins, 3);
    EXPECT_TRUE(List().empty()) << "not a seal";
    const CommandResult listing = RunShell(
        "SOFTHSM2_CONF=" + ShellQuote(root + "/softhsm/softhsm2.conf") + " pkcs11-tool --module " +
        SoftHsmToken::kModule + " --token-label 'Seal Token' --list-objects --type data");
    EXPECT_EQ(listing.output.find("zqtca.licence"), std::string::npos) << listing.output;
    const CommandResult loggedIn =
        RunShell(token->ToolPrefix() + " --list-objects --type data 2>&1");
    EXPECT_NE(loggedIn.output.find("zqtca.licence"), std::string::npos) << loggedIn.output;
    try {
        ref::ReadLicence(*registry, root + "/licence", entry, "other", Login());
        ADD_FAILURE() << "read";
    } catch (const ref::Failure& failure) {
        EXPECT_EQ(failure.code(), ref::kNotFound);
    }
}

TEST_F(TokenSealStoreTest, LicenceDataOfASoftCertificateIsAPrivateFile) {
    ref::CertEntry soft = entry;
    soft.source = ref::Source::kSoft;
    const std::string dir = root + "/licence";
    ref::WriteLicence(*registry, dir, soft, "../../lic", Pattern(40), Login());
    EXPECT_EQ(ref::ReadLicence(*registry, dir, soft, "../../lic", Login()), Pattern(40));
    EXPECT_EQ(logins, 0);
    size_t files = 0;
    for (const auto& file : fs::directory_iterator(dir)) {
        ++files;
        EXPECT_EQ(file.path().filename().string().size(), 64u + 4u);
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(files, 1u);
}

}  // namespace
