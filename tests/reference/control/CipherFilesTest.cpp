// File commands through the module's entry points: formats checked with
// openssl, paths confined to the files folder, no partial outputs, memory
// flat in the file size, envelopes of files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "control/ControlHarness.h"

namespace {

constexpr const char* kAesKey = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F";
constexpr const char* kDesKey = "0123456789ABCDEF00112233445566778899AABBCCDDEEFF";
constexpr const char* kPassword = "store pass %1";

class CipherFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(false);
        files = scope->home() + "/data/zqtca/files";
        std::filesystem::create_directories(files);
        chmod(files.c_str(), 0700);
        outside = scope->home() + "/outside";
        std::filesystem::create_directories(outside);
        WriteFileText(outside + "/victim", "untouched");
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        return WriteScratch(files, name, bytes);
    }
    std::string Get(const std::string& name) { return ReadFileText(files + "/" + name); }
    bool Has(const std::string& name) {
        struct stat st {};
        return lstat((files + "/" + name).c_str(), &st) == 0;
    }
    int32_t Run(int32_t dispid, const std::string& in, const std::string& out,
                const std::string& key) {
        return scope->Number(dispid, {in, out, key});
    }
    // Only the names expected, no temporary file left behind.
    size_t Entries() {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(files)) ++n;
        return n;
    }
    std::unique_ptr<ControlScope> scope;
    std::string files, outside;
};

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

TEST_F(CipherFilesTest, CbcFilesAreRawIvAndCiphertextForOpenssl) {
    struct Case {
        int32_t enc, dec;
        const char* key;
        const char* opensslName;
        size_t iv;
    };
    const Case cases[] = {{111, 112, kDesKey, "des-ede3-cbc", 8},
                          {111, 112, "0123456789ABCDEF", "des-cbc", 8},
                          {113, 118, kAesKey, "aes-256-cbc", 16}};
    const std::string plain = std::string(100000, 'p') + "\x00\xff tail";
    Put("plain", plain);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opensslName);
        ASSERT_EQ(Run(c.enc, "plain", "enc", c.key), 0) << scope->LastMessage();
        const std::string enc = Get("enc");
        ASSERT_GT(enc.size(), c.iv);
        const std::string body = WriteScratch(scope->home(), "body", enc.substr(c.iv));
        const CommandResult r = RunShell(
            std::string("openssl enc -d -provider legacy -provider default -") + c.opensslName +
            " -K " + c.key + " -iv " + Hex(enc.substr(0, c.iv)) + " -in " + ShellQuote(body));
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.output == plain) << "openssl disagrees";
        ASSERT_EQ(Run(c.dec, "enc", "dec", c.key), 0) << scope->LastMessage();
        EXPECT_TRUE(Get("dec") == plain);
        struct stat st {};
        ASSERT_EQ(stat((files + "/enc").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        std::filesystem::remove(files + "/enc");
        std::filesystem::remove(files + "/dec");
    }
}

TEST_F(CipherFilesTest, PasswordFilesRoundTripAndFailuresLeaveNothing) {
    Put("plain", "secret content");
    ASSERT_EQ(Run(113, "plain", "sealed", "a password, not hex"), 0) << scope->LastMessage();
    EXPECT_EQ(Get("sealed").substr(0, 7), "ZQTAES1");
    ASSERT_EQ(Run(118, "sealed", "opened", "a password, not hex"), 0);
    EXPECT_EQ(Get("opened"), "secret content");

    EXPECT_EQ(Run(118, "sealed", "wrong", "another password"), -14);
    std::string changed = Get("sealed");
    changed[changed.size() - 3] ^= 0x40;
    Put("changed", changed);
    EXPECT_EQ(Run(118, "changed", "out1", "a password, not hex"), -14);
    Put("cut", Get("sealed").substr(0, Get("sealed").size() - 1));
    EXPECT_EQ(Run(118, "cut", "out2", "a password, not hex"), -14);
    EXPECT_EQ(Run(118, "sealed", "out3", kAesKey), -15);  // not IV + whole blocks
    Put("plain16", "sixteen byte msg");
    ASSERT_EQ(Run(113, "plain16", "cbc", kAesKey), 0);
    EXPECT_EQ(
        Run(118, "cbc", "out4", "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1E"),
        -14);
    EXPECT_EQ(Run(113, "plain", "out5", ""), -2);
    EXPECT_EQ(Run(111, "plain", "out6", "0011"), -2);
    for (const char* name : {"wrong", "out1", "out2", "out3", "out4", "out5", "out6"})
        EXPECT_FALSE(Has(name)) << name;
    EXPECT_EQ(Entries(), 7u);  // plain sealed opened changed cut plain16 cbc
}

TEST_F(CipherFilesTest, PathsOutsideTheFolderAreRefused) {
    Put("in", "data");
    ASSERT_EQ(symlink("/etc", (files + "/etc").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/victim").c_str(), (files + "/victimlink").c_str()), 0);
    ASSERT_EQ(symlink(outside.c_str(), (files + "/outdir").c_str()), 0);
    struct Case {
        std::string in, out;
        int32_t code;
    };
    const Case cases[] = {
        {"..", "o", -17},
        {"a/../../x", "o", -17},
        {"./../x", "o", -17},
        {"/etc/passwd", "o", -17},
        {"a//../..", "o", -17},
        {"", "o", -17},
        {"etc/passwd", "o", -17},
        {"victimlink", "o", -17},
        {"in", "victimlink", -17},
        {"in", "outdir/new", -17},
        {"in", "../outside/new", -17},
        {"in", "/tmp/zqt-x", -17},
        {"missing", "o", -16},
        {"in", "in", -16},
    };
    // (A NUL inside a path is refused too; the harness cannot send one, the
    // files unit tests do.)
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in + " -> " + c.out);
        for (int32_t dispid : {111, 113})
            EXPECT_EQ(Run(dispid, c.in, c.out, std::string(kAesKey).substr(0, 32)), c.code)
                << scope->LastMessage();
    }
    EXPECT_EQ(ReadFileText(outside + "/victim"), "untouched");
    EXPECT_FALSE(std::filesystem::exists(outside + "/new"));
    EXPECT_FALSE(Has("o"));
    EXPECT_EQ(Entries(), 4u);
}

// The sanitizers keep freed memory in quarantine, so peak memory there says
// nothing about the code; the round trips are still checked.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPeakMemoryIsMeaningful = false;
#else
constexpr bool kPeakMemoryIsMeaningful = true;
#endif

long CurrentRssKib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

TEST_F(CipherFilesTest, LargeFilesUseFlatMemory) {
    constexpr off_t kSize = off_t{64} * 1024 * 1024;
    {
        std::ofstream f(files + "/big");
        f.seekp(kSize - 1);
        f.put('!');
    }
    const long start = CurrentRssKib();
    ASSERT_GT(start, 0);
    ASSERT_EQ(Run(113, "big", "big.pw", "large file password"), 0) << scope->LastMessage();
    ASSERT_EQ(Run(118, "big.pw", "big.back", "large file password"), 0) << scope->LastMessage();
    ASSERT_EQ(Run(113, "big", "big.cbc", kAesKey), 0) << scope->LastMessage();
    ASSERT_EQ(Run(118, "big.cbc", "big.cbc.back", kAesKey), 0) << scope->LastMessage();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (kPeakMemoryIsMeaningful) {
        EXPECT_LT(usage.ru_maxrss - start, 40 * 1024) << "peak RSS grew with the file";
    }
    for (const char* name : {"big.back", "big.cbc.back"}) {
        EXPECT_EQ(std::filesystem::file_size(files + "/" + name), static_cast<uintmax_t>(kSize));
        const CommandResult same =
            RunShell("cmp " + ShellQuote(files + "/big") + " " + ShellQuote(files + "/" + name));
        EXPECT_EQ(same.exitCode, 0) << same.output;
    }
}

TEST_F(CipherFilesTest, EnvelopedFilesForRecipientsAndOwnKey) {
    const TestPki& pki = TestPki::Shared();
    scope->AddToStore(pki.rsa, kPassword);
    scope->pinentry().Set(FakePinentry::Action::kPin, kPassword);
    const std::string content = std::string(70000, 'e') + " enveloped";
    Put("doc", content);
    const std::string path =
        scope->Text(194, {std::string("doc"), std::string("doc.p7"), pki.rsa.serial});
    ASSERT_EQ(path, files + "/doc.p7") << scope->LastMessage();
    const CommandResult r = RunShell("openssl cms -decrypt -binary -inform DER -in " +
                                     ShellQuote(path) + " -inkey " + ShellQuote(pki.rsa.key));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.output == content) << "openssl cannot open the envelope";

    const int before = scope->pinentry().PinPrompts();
    ASSERT_EQ(scope->Number(195, {std::string("doc.p7"), std::string("doc.out"), std::string("0")}),
              0)
        << scope->LastMessage();
    EXPECT_EQ(scope->pinentry().PinPrompts(), before + 1);
    EXPECT_TRUE(Get("doc.out") == content);

    EXPECT_EQ(scope->Number(195, {std::string("doc.p7"), std::string("doc.out"), std::string("0")}),
              -16);
    EXPECT_EQ(scope->Number(195, {std::string("doc"), std::string("x1"), std::string("0")}), -15);
    EXPECT_EQ(scope->Number(195, {std::string("doc.p7"), std::string("x2"), std::string("64")}),
              -2);
    EXPECT_EQ(scope->Text(194, {std::string("doc"), std::string("x3"), std::string("0ABCDEF0123")}),
              "");
    EXPECT_EQ(scope->LastCode(), -4);
    EXPECT_EQ(scope->Text(194, {std::string("../doc"), std::string("x4"), pki.rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -17);
    EXPECT_EQ(scope->pinentry().PinPrompts(), before + 1);
    EXPECT_EQ(Entries(), 3u);
}

}  // namespace
