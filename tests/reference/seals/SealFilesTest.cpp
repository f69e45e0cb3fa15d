// Seal records in the store's folder: names cannot reach outside it, each
// name and type has its own file, and writes replace.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "core/Outcome.h"
#include "seals/SealFiles.h"
#include "support/TestPki.h"

namespace {

namespace fs = std::filesystem;
using ref::SealRecord;

class SealFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/seal-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        dir = root + "/seals";
    }
    void TearDown() override { fs::remove_all(root); }

    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string root;
    std::string dir;
};

TEST_F(SealFilesTest, NamesOfAnyKindStayInsideTheFolder) {
    const std::string names[] = {"../escape", "/etc/passwd",   "..",
                                 "a/b\\c",    "q\"uote\nline", "\xe5\x8d\xb0\xe7\xab\xa0"};
    for (const std::string& name : names)
        ref::PutFolderSeal(dir, {name, 1, "bmp", "01", {'B', 'M', 1}});
    EXPECT_FALSE(fs::exists(root + "/escape"));
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), std::size(names));
    for (const std::string& file : files) {
        EXPECT_EQ(file.size(), 64u + 5u) << file;  // <sha-256 hex>.json
        struct stat st {};
        ASSERT_EQ(stat((dir + "/" + file).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << file;
    }
    const std::vector<SealRecord> back = ref::FolderSeals(dir);
    ASSERT_EQ(back.size(), std::size(names));
    for (const std::string& name : names) {
        EXPECT_TRUE(std::any_of(back.begin(), back.end(), [&](const SealRecord& r) {
            return r.name == name;
        })) << name;
    }
}

TEST_F(SealFilesTest, TheFileIsNamedBySha256OfTheName) {
    ref::PutFolderSeal(dir, {"abc", 1, "", "", {1}});
    // sha256("abc"), an independent value.
    EXPECT_TRUE(
        fs::exists(dir + "/ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad.json"));
}

TEST_F(SealFilesTest, SameNameAndTypeReplacesOtherTypesStay) {
    ref::PutFolderSeal(dir, {"seal", 1, "", "", {1}});
    ref::PutFolderSeal(dir, {"seal", 2, "der", "", {0x30, 0}});
    ref::PutFolderSeal(dir, {"seal", 1, "", "", {2, 2}});
    const std::vector<SealRecord> back = ref::FolderSeals(dir);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].type, 1);
    EXPECT_EQ(back[0].data, (ref::Bytes{2, 2}));
    EXPECT_EQ(back[1].type, 2);
}

TEST_F(SealFilesTest, ForeignBrokenAndMisplacedFilesAreSkipped) {
    ref::PutFolderSeal(dir, {"good", 1, "", "", {1}});
    WriteFileText(dir + "/broken.json", "{not json");
    // A valid record under a file name that is not its own.
    WriteFileText(dir + "/" + ref::SealFileName("other", 1),
                  ref::SealRecordJson({"impostor", 1, "", "", {9}}, true));
    WriteFileText(root + "/outside.json", ref::SealRecordJson({"linked", 1, "", "", {9}}, true));
    fs::create_symlink(root + "/outside.json", dir + "/" + ref::SealFileName("linked", 1));
    const std::vector<SealRecord> back = ref::FolderSeals(dir);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].name, "good");
}

TEST_F(SealFilesTest, AMissingFolderHasNoSealsAndAMegabytePictureFits) {
    EXPECT_TRUE(ref::FolderSeals(dir).empty());
    ref::Bytes picture(1 << 20);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i * 31 + 7);
    ref::PutFolderSeal(dir, {"big", 1, "png", "", picture});
    const std::vector<SealRecord> back = ref::FolderSeals(dir);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].data, picture);
}

TEST_F(SealFilesTest, ReadOwnFileRefusesLinksAndOversizedFiles) {
    fs::create_directories(dir);
    WriteFileText(dir + "/f", "12345");
    fs::create_symlink(dir + "/f", dir + "/link");
    EXPECT_EQ(ref::ReadOwnFile(dir + "/f", 5), ref::Bytes({'1', '2', '3', '4', '5'}));
    EXPECT_FALSE(ref::ReadOwnFile(dir + "/missing", 5).has_value());
    EXPECT_THROW(ref::ReadOwnFile(dir + "/f", 4), ref::Failure);
    EXPECT_THROW(ref::ReadOwnFile(dir + "/link", 5), ref::Failure);
}

}  // namespace
