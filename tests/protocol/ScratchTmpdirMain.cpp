// The factory logs to $TMPDIR/ZQTCA/. Each test process points TMPDIR at a
// scratch folder of its own before anything can create the logger, so that
// processes run in parallel never share a log file, and removes it at the end.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    std::string pattern = "/tmp/zqt-protocol-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern + "/ZQTCA";
    if (mkdir(folder.c_str(), 0700) != 0 || chmod(folder.c_str(), 0700) != 0 ||
        setenv("TMPDIR", pattern.c_str(), 1) != 0) {
        std::perror(folder.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return status;
}
