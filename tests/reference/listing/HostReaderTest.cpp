// The list as the host reads it (by the library's bare name, converted from
// the locale's character set) and as GetUselist answers it.
#include <gtest/gtest.h>

#include <clocale>
#include <nlohmann/json.hpp>

#include "controls/CertSealList.h"
#include "listing/ListScene.h"
#include "support/TextConversion.h"

namespace {

using nlohmann::json;

const std::string kCommonName = "\xE6\xB5\x8B\xE8\xAF\x95 \xF0\x9F\x98\x80";

class HostReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        scope->token()->Import(TestPki::Shared().rsa, "01", "rsa identity");
        scope->AddToStore(MakeIdentity(scope->home(), kCommonName), "store pass");
    }
    std::unique_ptr<ControlScope> scope;
    ListLibrary library;
};

TEST_F(HostReaderTest, HostGetsTheLibraryTextUnchangedInEveryLocale) {
    const std::string full = ReadByProtocol(library.full());
    const std::string compact = ReadByProtocol(library.compact());
    ASSERT_FALSE(full.empty());
    ASSERT_NE(full, compact);
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr);
        EXPECT_EQ(ReadCertAndSealList(), zqt::Utf8ToUtf16(full));
        EXPECT_EQ(ReadCertAndSealListXEPA(), zqt::Utf8ToUtf16(compact));
    }
    std::setlocale(LC_ALL, "C");
    const json list = json::parse(zqt::Utf16ToUtf8(ReadCertAndSealListXEPA()));
    ASSERT_EQ(list.at("certs").size(), 2u);
    EXPECT_EQ(list.at("certs").at(1).at("cn"), kCommonName);
}

TEST_F(HostReaderTest, GetUselistIsTheLiveFullList) {
    EXPECT_EQ(scope->Text(99), ReadByProtocol(library.full()));
    EXPECT_EQ(scope->LastCode(), 0);

    scope->token()->Delete();
    const json left = json::parse(scope->Text(99));
    ASSERT_EQ(left.at("certs").size(), 1u) << "the pulled token's certificate is gone at once";
    EXPECT_EQ(left.at("certs").at(0).at("store"), "soft");
    EXPECT_EQ(left.at("certs").at(0).at("cn"), kCommonName);
}

TEST(GetUselistEmptyTest, NothingFoundIsEmptyWithNotFound) {
    ControlScope scope(false);
    EXPECT_EQ(scope.Text(99), "");
    EXPECT_EQ(scope.LastCode(), -4);
    EXPECT_EQ(ReadCertAndSealList(), u"");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"");
}

}  // namespace
