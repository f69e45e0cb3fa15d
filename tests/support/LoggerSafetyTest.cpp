// Folders and files the logger must not write into: each case prepares the
// log folder, logs, and checks that nothing was written anywhere.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "LoggerTestSupport.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct Places {
    fs::path folder;   // where the log folder is expected
    fs::path outside;  // a private folder the log must not reach
    fs::path dayFile() const { return folder / DayFileName(g_fakeNow.load()); }
};

void MakePrivateFolder(const fs::path& path) {
    fs::create_directory(path);
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace);
}

struct UnsafeCase {
    const char* name;
    bool needsRoot;
    void (*prepare)(const Places&);
    void (*check)(const Places&);
    const char* told;  // the reason said once on standard error; null: nothing said
};

void CheckNoFolder(const Places& p) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(p.folder)));
}
void CheckFolderEmpty(const Places& p) {
    EXPECT_TRUE(fs::is_empty(p.folder));
}
void CheckOutsideEmpty(const Places& p) {
    EXPECT_TRUE(fs::is_empty(p.outside));
}
void CheckTargetUntouched(const Places& p) {
    EXPECT_EQ(ReadFile(p.outside / "target"), "keep\n");
    EXPECT_TRUE(fs::is_symlink(p.dayFile()));
}
void CheckDanglingTargetNotMade(const Places& p) {
    EXPECT_FALSE(fs::exists(p.outside / "new"));
}
void CheckPlainFileUntouched(const Places& p) {
    EXPECT_EQ(ReadFile(p.folder), "plain\n");
}
void CheckDirectoryInPlaceOfFile(const Places& p) {
    EXPECT_TRUE(fs::is_directory(p.dayFile()));
    EXPECT_TRUE(fs::is_empty(p.dayFile()));
}

void WithMode(const Places& p, fs::perms mode) {
    MakePrivateFolder(p.folder);
    fs::permissions(p.folder, mode, fs::perm_options::replace);
}

const UnsafeCase kCases[] = {
    {"MissingFolder", false, [](const Places&) {}, CheckNoFolder, nullptr},
    {"OwnedByNobody", true,
     [](const Places& p) {
         MakePrivateFolder(p.folder);
         ASSERT_EQ(chown(p.folder.c_str(), kNobody, kNobody), 0);
     },
     CheckFolderEmpty, "owned by another user"},
    {"GroupWritable", false, [](const Places& p) { WithMode(p, fs::perms(0770)); },
     CheckFolderEmpty, "writable by group or others"},
    {"OthersWritable", false, [](const Places& p) { WithMode(p, fs::perms(0702)); },
     CheckFolderEmpty, "writable by group or others"},
    {"WorldWritableSticky", false, [](const Places& p) { WithMode(p, fs::perms(01777)); },
     CheckFolderEmpty, "writable by group or others"},
    {"FolderIsSymlink", false,
     [](const Places& p) { fs::create_directory_symlink(p.outside, p.folder); }, CheckOutsideEmpty,
     "a symbolic link"},
    {"FolderIsPlainFile", false, [](const Places& p) { std::ofstream(p.folder) << "plain\n"; },
     CheckPlainFileUntouched, "not a folder"},
    {"FileIsSymlink", false,
     [](const Places& p) {
         MakePrivateFolder(p.folder);
         std::ofstream(p.outside / "target") << "keep\n";
         fs::create_symlink(p.outside / "target", p.dayFile());
     },
     CheckTargetUntouched, "not a regular file"},
    {"FileIsDanglingSymlink", false,
     [](const Places& p) {
         MakePrivateFolder(p.folder);
         fs::create_symlink(p.outside / "new", p.dayFile());
     },
     CheckDanglingTargetNotMade, "not a regular file"},
    {"FileIsDirectory", false,
     [](const Places& p) {
         MakePrivateFolder(p.folder);
         fs::create_directory(p.dayFile());
     },
     CheckDirectoryInPlaceOfFile, "not a regular file"},
    // With no reader, a FIFO would block a plain open for ever.
    {"FileIsFifo", false,
     [](const Places& p) {
         MakePrivateFolder(p.folder);
         ASSERT_EQ(mkfifo(p.dayFile().c_str(), 0600), 0);
     },
     [](const Places& p) { EXPECT_TRUE(fs::is_fifo(p.dayFile())); }, "not a regular file"},
};

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class UnsafeLogFolder : public testing::TestWithParam<UnsafeCase> {};

TEST_P(UnsafeLogFolder, NothingIsWrittenAndTheCallerGoesOn) {
    if (GetParam().needsRoot && geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the folder away";
    }
    g_fakeNow = UtcTime(2024, 3, 5, 9, 0, 0);
    TempDir temp;
    const Places places{temp.path() / "ZQTCA", temp.path() / "outside"};
    MakePrivateFolder(places.outside);
    GetParam().prepare(places);
    ASSERT_FALSE(HasFatalFailure());
    testing::internal::CaptureStderr();
    {
        TestLogger logger(places.folder.string() + "/", &FakeNow);
        logger.LogInfo("first %d", 1);
        logger.LogInfo("second %d", 2);
    }
    const std::string told = testing::internal::GetCapturedStderr();
    GetParam().check(places);
    if (GetParam().told == nullptr) {
        EXPECT_EQ(told, "");
    } else {
        EXPECT_EQ(Occurrences(told, "daily log: the folder"), 1u) << told;
        EXPECT_NE(told.find(GetParam().told), std::string::npos) << told;
        EXPECT_NE(told.find(places.folder.string()), std::string::npos) << told;
    }
    // The outside folder only ever holds what the case put there.
    for (const auto& entry : fs::directory_iterator(places.outside)) {
        EXPECT_EQ(entry.path().filename(), "target");
    }
}

INSTANTIATE_TEST_SUITE_P(Logger, UnsafeLogFolder, testing::ValuesIn(kCases),
                         [](const auto& c) { return std::string(c.param.name); });

// A sound folder next to the unsafe ones, so the checks above can tell.
TEST(SafeLogFolder, PrivateFolderIsWritten) {
    TempDir temp;
    const fs::path folder = temp.path() / "ZQTCA";
    MakePrivateFolder(folder);
    {
        TestLogger logger(folder.string() + "/");
        logger.LogInfo("written");
    }
    EXPECT_FALSE(fs::is_empty(folder));
}

}  // namespace
