// The files folder: no path given by a page reaches outside it, outputs are
// private and appear only complete.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/FileJob.h"
#include "files/FilesTestSupport.h"
#include "files/SafeFolder.h"
#include "support/TestPki.h"

namespace {

using ref::kFile;
using ref::kOk;
using ref::kPolicy;
using ref::Resolver;

class SafeFolderTest : public ::testing::TestWithParam<Resolver> {
  protected:
    void SetUp() override {
        folder = scratch.path() + "/data/files";
        outside = scratch.path() + "/outside";
        mkdir(outside.c_str(), 0700);
        WriteFileText(outside + "/secret", "keep");
    }
    ref::SafeFolder Folder() { return ref::SafeFolder(folder, GetParam()); }
    int32_t Copy(const std::string& in, const std::string& out) {
        return CodeOf([&] {
            ref::TransformFile(
                folder, in, out,
                [](BIO* i, BIO* o) {
                    char buf[256];
                    int n;
                    while ((n = BIO_read(i, buf, sizeof buf)) > 0) BIO_write(o, buf, n);
                },
                GetParam());
        });
    }
    void Plant(const std::string& name, const std::string& target) {
        ASSERT_EQ(symlink(target.c_str(), (folder + "/" + name).c_str()), 0);
    }

    ScratchDir scratch;
    std::string folder, outside;
};

TEST_P(SafeFolderTest, FolderIsMadePrivate) {
    Folder();
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_P(SafeFolderTest, PathsThatCouldLeaveAreRefusedBeforeAnythingIsTouched) {
    const std::string bad[] = {"..",
                               "a/../../x",
                               "./../x",
                               "/etc/passwd",
                               "a//../..",
                               "",
                               "a/",
                               "a//b",
                               "./x",
                               "../outside/secret",
                               std::string("in\0x", 4),
                               "/" + outside + "/secret"};
    for (const std::string& path : bad) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Copy(path, "out"), kPolicy);
        EXPECT_EQ(Copy("in", path), kPolicy);
        EXPECT_FALSE(Exists(folder)) << "nothing may be made for a refused path";
    }
    EXPECT_EQ(ReadFileText(outside + "/secret"), "keep");
}

TEST_P(SafeFolderTest, SymbolicLinksAreNeverFollowed) {
    Folder();
    WriteFileText(folder + "/in", "data");
    Plant("etc", "/etc");
    Plant("passwd", "/etc/passwd");
    Plant("secretlink", outside + "/secret");
    Plant("outdir", outside);
    Plant("self", folder);
    mkdir((folder + "/sub").c_str(), 0700);
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"etc/passwd", "o1"},    {"passwd", "o2"},  {"secretlink", "o3"},    {"in", "secretlink"},
        {"in", "outdir/new"},    {"in", "etc/new"}, {"self/in", "o4"},       {"in", "self/o5"},
        {"outdir/secret", "o6"}, {"in", "passwd"},  {"sub/../passwd", "o7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " -> " + c.out);
        EXPECT_EQ(Copy(c.in, c.out), kPolicy);
    }
    EXPECT_EQ(ReadFileText(outside + "/secret"), "keep");
    EXPECT_FALSE(Exists(outside + "/new"));
    EXPECT_EQ(Listing(folder), "etc in outdir passwd secretlink self sub ");
    EXPECT_EQ(Listing(outside), "secret ");
}

TEST_P(SafeFolderTest, FileErrors) {
    Folder();
    WriteFileText(folder + "/in", "data");
    WriteFileText(folder + "/taken", "old");
    mkdir((folder + "/dir").c_str(), 0700);
    EXPECT_EQ(Copy("missing", "out"), kFile);
    EXPECT_EQ(Copy("in", "taken"), kFile);
    EXPECT_EQ(Copy("in", "in"), kFile);
    EXPECT_EQ(Copy("dir", "out"), kFile);
    EXPECT_EQ(Copy("in", "nodir/out"), kFile);
    EXPECT_EQ(Copy("in", "in/out"), kFile);
    EXPECT_EQ(ReadFileText(folder + "/taken"), "old");
    EXPECT_EQ(Listing(folder), "dir in taken ");
}

TEST_P(SafeFolderTest, OutputIsPrivateAndComplete) {
    Folder();
    mkdir((folder + "/sub").c_str(), 0700);
    WriteFileText(folder + "/sub/in", "some data");
    const mode_t old = umask(0);
    EXPECT_EQ(Copy("sub/in", "sub/out"), kOk);
    umask(old);
    EXPECT_EQ(ReadFileText(folder + "/sub/out"), "some data");
    struct stat st {};
    ASSERT_EQ(stat((folder + "/sub/out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Listing(folder + "/sub"), "in out ");
}

TEST_P(SafeFolderTest, FailedWorkLeavesNoFile) {
    Folder();
    WriteFileText(folder + "/in", "data");
    const int32_t code = CodeOf([&] {
        ref::TransformFile(
            folder, "in", "out",
            [](BIO*, BIO* o) {
                BIO_write(o, "half", 4);
                ref::Fail(ref::kDecrypt, "failed midway");
            },
            GetParam());
    });
    EXPECT_EQ(code, ref::kDecrypt);
    EXPECT_EQ(Listing(folder), "in ");
}

TEST_P(SafeFolderTest, NameTakenWhileWritingIsNeverReplaced) {
    const std::string targets[] = {"", outside + "/secret"};  // a file, a link
    for (const std::string& target : targets) {
        SCOPED_TRACE(target);
        ref::SafeFolder files = Folder();
        ref::OutputFile out = files.CreateOutput("out");
        ASSERT_EQ(write(out.fd(), "new", 3), 3);
        if (target.empty())
            WriteFileText(folder + "/out", "planted");
        else
            Plant("out", target);
        EXPECT_EQ(CodeOf([&] { out.Commit(); }), kFile);
        EXPECT_EQ(ReadFileText(folder + "/out"), target.empty() ? "planted" : "keep");
        unlink((folder + "/out").c_str());
    }
    EXPECT_EQ(ReadFileText(outside + "/secret"), "keep");
}

INSTANTIATE_TEST_SUITE_P(Resolvers, SafeFolderTest,
                         ::testing::Values(Resolver::kOpenat2, Resolver::kWalk));

}  // namespace
