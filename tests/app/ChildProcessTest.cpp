#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "app/ChildProcess.h"

namespace {

TEST(RunChild, KeepsArgumentsApartAndCollectsBothStreams) {
    // Spaces, quotes and a semicolon reach the program untouched: no shell.
    const zqt::ChildResult result = zqt::RunChild(
        "/bin/sh", {"-c", "printf '%s|' \"$@\"; echo oops >&2; exit 3", "sh", "a b", "'c';d"});
    EXPECT_EQ(result.spawnError, 0);
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.out, "a b|'c';d|");
    EXPECT_EQ(result.err, "oops\n");
}

TEST(RunChild, ReadsLargeOutputOnBothStreams) {
    // More than a pipe holds on each stream at once.
    const zqt::ChildResult result =
        zqt::RunChild("/bin/sh", {"-c", "head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out.size(), 300000u);
    EXPECT_EQ(result.err.size(), 300000u);
}

TEST(RunChild, StandardInputIsEmpty) {
    const zqt::ChildResult result = zqt::RunChild("/bin/cat", {});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
}

TEST(RunChild, MissingProgramIsASpawnError) {
    const zqt::ChildResult result = zqt::RunChild("/nonexistent/zqt-program", {});
    EXPECT_EQ(result.spawnError, ENOENT);
}

TEST(RunChild, KilledProgramHasNoExitStatus) {
    const zqt::ChildResult result = zqt::RunChild("/bin/sh", {"-c", "kill -9 $$"});
    EXPECT_EQ(result.spawnError, 0);
    EXPECT_EQ(result.exitStatus, -1);
}

TEST(FindProgram, SearchesAbsoluteEntriesInOrder) {
    EXPECT_EQ(zqt::FindProgram("sh", "/nonexistent::relative:/bin:/usr/bin"), "/bin/sh");
    EXPECT_EQ(zqt::FindProgram("sh", ""), std::nullopt);
    EXPECT_EQ(zqt::FindProgram("sh", "bin"), std::nullopt);
    // A directory of that name is not a program.
    EXPECT_EQ(zqt::FindProgram("bin", "/usr"), std::nullopt);
}

}  // namespace
