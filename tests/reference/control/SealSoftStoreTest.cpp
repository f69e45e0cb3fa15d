// Seals and licence data of a software certificate: files of the store's
// folders, written without a token, read by the same commands.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "control/SoftStoreFixture.h"

namespace {

namespace fs = std::filesystem;

constexpr int32_t kBmpFromSealData = 33, kPicByCertSn = 104, kSealIndata = 148, kWriteSeal = 150,
                  kReadSeal = 151, kWriteLicence = 152, kReadLicence = 153, kWriteByType = 189,
                  kReadByType = 190, kSealInfos = 199;

class SealSoftStoreTest : public SoftStoreFixture {
  protected:
    void SetUp() override {
        SoftStoreFixture::SetUp();
        ASSERT_EQ(scope->Number(2, {pki().rsa.serial, std::string(), std::string(), std::string(),
                                    std::string(), std::string(), std::string()}),
                  0);
    }
    std::string B64(const std::string& bytes) { return Base64Of(scope->home(), bytes); }
    std::string SealDir() const { return scope->home() + "/data/zqtca/seals"; }
};

TEST_F(SealSoftStoreTest, WritesGoToPrivateFilesAndReadBack) {
    const std::string names[] = {"Store seal", "../../escape", "\xe5\x8d\xb0 \"q\"\n"};
    for (const std::string& name : names)
        ASSERT_EQ(scope->Number(kWriteSeal, {name, B64("BM " + name)}), 0) << scope->LastMessage();
    ASSERT_EQ(scope->Number(kWriteByType, {names[0], B64("\x30 gm"), int32_t{2}}), 0);
    EXPECT_EQ(scope->pinentry().PinPrompts(), 0) << "a software certificate needs no PIN here";
    EXPECT_FALSE(fs::exists(scope->home() + "/data/escape"));

    size_t files = 0;
    for (const auto& file : fs::directory_iterator(SealDir())) {
        ++files;
        struct stat st {};
        ASSERT_EQ(lstat(file.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(files, 4u);
    for (const std::string& name : names)
        EXPECT_EQ(Base64DecodeText(scope->Text(kReadSeal, {name})), "BM " + name);
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadByType, {names[0], int32_t{2}})), "\x30 gm");
    EXPECT_EQ(Base64DecodeText(scope->Text(kPicByCertSn, {pki().rsa.serial})).substr(0, 3), "BM ");

    const nlohmann::json meta = nlohmann::json::parse(scope->Text(kSealIndata, {names[2]}));
    EXPECT_EQ(meta["name"], names[2]);
    const nlohmann::json infos = nlohmann::json::parse(scope->Text(kSealInfos, {std::string()}));
    ASSERT_EQ(infos.size(), 4u);
    for (const auto& info : infos) EXPECT_EQ(info["store"], "soft");
}

TEST_F(SealSoftStoreTest, AMegabytePictureAndAnAbsurdOne) {
    std::string picture(1 << 20, '\0');
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7 + (i >> 11));
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("big"), B64(picture)}), 0)
        << scope->LastMessage();
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadSeal, {std::string("big")})), picture);
    EXPECT_EQ(
        scope->Number(kWriteSeal, {std::string("huge"), B64(std::string((8u << 20) + 3, 'x'))}),
        -2);
}

TEST_F(SealSoftStoreTest, LicenceDataIsAPrivateFile) {
    ASSERT_EQ(scope->Number(kWriteLicence, {std::string("lic"), B64("licence one")}), 0)
        << scope->LastMessage();
    ASSERT_EQ(scope->Number(kWriteLicence, {std::string("lic"), B64("licence two")}), 0);
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadLicence, {std::string("lic")})), "licence two");
    size_t files = 0;
    for (const auto& file : fs::directory_iterator(scope->home() + "/data/zqtca/licence")) {
        ++files;
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(files, 1u);
    EXPECT_EQ(scope->Text(kReadLicence, {std::string("missing")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

// A 1x1 24-bit BMP, as a paint program writes it.
std::string SmallBmp() {
    const unsigned char bytes[] = {'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0,   0, 0,  40,
                                   0,   0,   0,  1, 0, 0, 0, 1, 0, 0, 0,  1,   0, 24, 0,
                                   0,   0,   0,  0, 4, 0, 0, 0, 0, 0, 0,  0,   0, 0,  0,
                                   0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  255, 0};
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST_F(SealSoftStoreTest, BmpFromSealData) {
    const std::string bmp = SmallBmp();
    EXPECT_EQ(Base64DecodeText(scope->Text(kBmpFromSealData, {B64(bmp), Ui4{0}})), bmp);
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("bmp seal"), B64(bmp)}), 0);
    const std::string record =
        "{\"v\":1,\"name\":\"bmp seal\",\"type\":1,\"format\":\"bmp\",\"certSn\":\"\",\"data\":\"" +
        B64(bmp) + "\"}";
    EXPECT_EQ(Base64DecodeText(scope->Text(kBmpFromSealData, {B64(record), Ui4{0}})), bmp);

    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const struct {
        std::string data;
        uint32_t index;
        int32_t code;
    } cases[] = {
        {B64(png), 0, -3},
        {std::string("not base64 !"), 0, -15},
        {B64(bmp), 1, -2},
        {B64(bmp), 4294967295u, -2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scope->Text(kBmpFromSealData, {c.data, Ui4{c.index}}), "");
        EXPECT_EQ(scope->LastCode(), c.code) << scope->LastMessage();
    }
}

}  // namespace
