#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ScratchDir.h"
#include "app/NewFiles.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

mode_t Mode(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(WriteNewFiles, WritesEveryFileWithItsMode) {
    ScratchDir dir;
    const std::array<zqt::NewFile, 2> files = {{{"a.pem", "alpha", 0600}, {"b.pem", "", 0644}}};
    const auto error = zqt::WriteNewFiles(dir.path().string(), files);
    ASSERT_FALSE(error) << *error;
    EXPECT_EQ(Read(dir.file("a.pem")), "alpha");
    EXPECT_EQ(Mode(dir.file("a.pem")), 0600u);
    EXPECT_TRUE(fs::exists(dir.file("b.pem")));
    EXPECT_EQ(Read(dir.file("b.pem")), "");
}

TEST(WriteNewFiles, AcceptsADirectoryWithATrailingSlash) {
    ScratchDir dir;
    const std::array<zqt::NewFile, 1> files = {{{"c", "x", 0600}}};
    EXPECT_FALSE(zqt::WriteNewFiles(dir.path().string() + "/", files));
    EXPECT_EQ(Read(dir.file("c")), "x");
}

TEST(WriteNewFiles, AnExistingSecondFileStopsEverything) {
    ScratchDir dir;
    { std::ofstream(dir.file("b.pem")) << "old"; }
    const std::array<zqt::NewFile, 2> files = {{{"a.pem", "alpha", 0600}, {"b.pem", "new", 0644}}};
    const auto error = zqt::WriteNewFiles(dir.path().string(), files);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find(dir.file("b.pem")), std::string::npos) << *error;
    EXPECT_NE(error->find("exists"), std::string::npos) << *error;
    EXPECT_FALSE(fs::exists(dir.file("a.pem")));
    EXPECT_EQ(Read(dir.file("b.pem")), "old");
}

TEST(WriteNewFiles, ADanglingLinkCountsAsExisting) {
    ScratchDir dir;
    const std::string target = dir.file("elsewhere");
    ASSERT_EQ(::symlink(target.c_str(), dir.file("a.pem").c_str()), 0);
    const std::array<zqt::NewFile, 1> files = {{{"a.pem", "secret", 0600}}};
    const auto error = zqt::WriteNewFiles(dir.path().string(), files);
    ASSERT_TRUE(error);
    EXPECT_FALSE(fs::exists(target)) << "nothing is written through the link";
}

TEST(WriteNewFiles, WhenTheSecondCannotBeCreatedTheFirstIsRemoved) {
    ScratchDir dir;
    const std::array<zqt::NewFile, 2> files = {
        {{"a.pem", "alpha", 0600}, {"missing/b.pem", "beta", 0644}}};
    const auto error = zqt::WriteNewFiles(dir.path().string(), files);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("missing/b.pem"), std::string::npos) << *error;
    EXPECT_FALSE(fs::exists(dir.file("a.pem")));
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Caps the size of files this process writes, and so makes a longer write fail.
class FileSizeCap {
  public:
    explicit FileSizeCap(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = m_saved;
        capped.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeCap() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;

  private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

TEST(WriteNewFiles, WhenTheSecondCannotBeWrittenBothAreRemoved) {
    ScratchDir dir;
    const std::string big(4096, 'b');
    const std::array<zqt::NewFile, 2> files = {{{"a.pem", "small", 0600}, {"b.pem", big, 0644}}};
    std::optional<std::string> error;
    {
        FileSizeCap cap(64);
        error = zqt::WriteNewFiles(dir.path().string(), files);
    }
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("cannot write"), std::string::npos) << *error;
    EXPECT_NE(error->find(dir.file("b.pem")), std::string::npos) << *error;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(WriteNewFiles, MissingDirectoryIsNamed) {
    const std::array<zqt::NewFile, 1> files = {{{"a", "x", 0600}}};
    const auto error = zqt::WriteNewFiles("/nonexistent/zqt-app", files);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("/nonexistent/zqt-app"), std::string::npos) << *error;
}

}  // namespace
