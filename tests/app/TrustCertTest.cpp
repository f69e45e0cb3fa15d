#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/CertutilOutput.h"
#include "app/ChildProcess.h"
#include "app/MakeCert.h"
#include "app/NssDatabases.h"
#include "app/TrustCert.h"

namespace {

namespace fs = std::filesystem;

const char* SearchPath() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "/usr/bin:/bin";
}

// A scratch home with the unit's certificate pair, a Firefox profile with a
// database and one without, and no Chromium database yet.
class TrustCertTest : public ::testing::Test {
  protected:
    void SetUp() override {
        certutil_ = zqt::FindProgram("certutil", SearchPath());
        if (!certutil_) {
            GTEST_SKIP() << "certutil is not installed (package libnss3-tools)";
        }
        std::string pattern = (fs::temp_directory_path() / "zqt-trust-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        home_ = pattern;
        profile_ = home_ + "/.mozilla/firefox/abcd1234.default-esr";
        fs::create_directories(profile_);
        fs::create_directories(home_ + "/.mozilla/firefox/old.cert8-only");
        ASSERT_EQ(Certutil({"-N", "-d", "sql:" + profile_, "--empty-password"}).exitStatus, 0);
        MakePair();
    }

    void TearDown() override {
        if (!home_.empty()) {
            fs::remove_all(home_);
        }
    }

    void MakePair() {
        const std::string dir = zqt::DefaultCertificateDirectory(home_);
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(zqt::MakeCertificateFiles(dir).ok);
    }

    zqt::TrustSetup Setup() const {
        return {home_, SearchPath(),
                zqt::DefaultCertificateDirectory(home_) + "/" + zqt::kCertificateFileName};
    }

    zqt::ChildResult Certutil(const std::vector<std::string>& args) const {
        return zqt::RunChild(*certutil_, args);
    }

    std::optional<std::string> TrustIn(const std::string& db) const {
        const zqt::ChildResult listing = Certutil({"-L", "-d", "sql:" + db});
        EXPECT_EQ(listing.exitStatus, 0) << listing.err;
        return zqt::ListedTrust(listing.out, zqt::kTrustNickname);
    }

    std::vector<std::string> BodiesIn(const std::string& db) const {
        return zqt::PemCertificateBodies(
            Certutil({"-L", "-d", "sql:" + db, "-n", zqt::kTrustNickname, "-a"}).out);
    }

    std::vector<std::string> OurBody() const {
        std::ifstream in(Setup().certificate);
        std::ostringstream text;
        text << in.rdbuf();
        return zqt::PemCertificateBodies(text.str());
    }

    int Run(int (*action)(const zqt::TrustSetup&, std::ostream&, std::ostream&),
            const zqt::TrustSetup& setup) {
        out_.str("");
        err_.str("");
        return action(setup, out_, err_);
    }

    std::string Chromium() const { return home_ + "/.pki/nssdb"; }

    std::optional<std::string> certutil_;
    std::string home_;
    std::string profile_;
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(TrustCertTest, TrustsInEveryDatabaseOnceAndSaysSo) {
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    EXPECT_NE(out_.str().find(Chromium() + ": made the database; added"), std::string::npos)
        << out_.str();
    EXPECT_NE(out_.str().find(profile_ + ": added"), std::string::npos) << out_.str();
    for (const std::string& db : {Chromium(), profile_}) {
        EXPECT_EQ(TrustIn(db), zqt::kServerPeerTrust) << db;
        EXPECT_EQ(BodiesIn(db), OurBody()) << db;
    }
    // Chromium's own database is private to the user.
    EXPECT_EQ(fs::status(Chromium()).permissions() & fs::perms::all, fs::perms::owner_all);
    // The profile without cert9.db is not touched.
    EXPECT_FALSE(fs::exists(home_ + "/.mozilla/firefox/old.cert8-only/cert9.db"));

    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    EXPECT_EQ(out_.str(), Chromium() + ": already trusts the certificate; nothing changed\n" +
                              profile_ + ": already trusts the certificate; nothing changed\n");
    EXPECT_EQ(BodiesIn(Chromium()).size(), 1u);
}

TEST_F(TrustCertTest, ReplacesTheCertificateOfAnOlderPair) {
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    const std::vector<std::string> old = OurBody();
    MakePair();
    ASSERT_NE(OurBody(), old);
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    EXPECT_NE(out_.str().find("replaced an older certificate"), std::string::npos) << out_.str();
    for (const std::string& db : {Chromium(), profile_}) {
        EXPECT_EQ(BodiesIn(db), OurBody()) << db;
        EXPECT_EQ(TrustIn(db), zqt::kServerPeerTrust) << db;
    }
}

TEST_F(TrustCertTest, MendsTrustThatWasChanged) {
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    ASSERT_EQ(
        Certutil({"-M", "-d", "sql:" + profile_, "-n", zqt::kTrustNickname, "-t", ",,"}).exitStatus,
        0);
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    EXPECT_NE(out_.str().find(profile_ + ": set the trust"), std::string::npos) << out_.str();
    EXPECT_EQ(TrustIn(profile_), zqt::kServerPeerTrust);
}

TEST_F(TrustCertTest, UntrustUndoesItOnce) {
    ASSERT_EQ(Run(zqt::TrustCertificate, Setup()), 0) << err_.str();
    ASSERT_EQ(Run(zqt::UntrustCertificate, Setup()), 0) << err_.str();
    EXPECT_EQ(out_.str(), Chromium() + ": removed \"zqtca-service\"\n" + profile_ +
                              ": removed \"zqtca-service\"\n");
    for (const std::string& db : {Chromium(), profile_}) {
        EXPECT_EQ(TrustIn(db), std::nullopt) << db;
    }
    ASSERT_EQ(Run(zqt::UntrustCertificate, Setup()), 0) << err_.str();
    EXPECT_EQ(out_.str(), Chromium() + ": has no \"zqtca-service\"; nothing changed\n" + profile_ +
                              ": has no \"zqtca-service\"; nothing changed\n");
}

TEST_F(TrustCertTest, UntrustMakesNoDatabase) {
    fs::remove_all(home_ + "/.mozilla");
    ASSERT_EQ(Run(zqt::UntrustCertificate, Setup()), 0) << err_.str();
    EXPECT_NE(out_.str().find("no database; nothing changed"), std::string::npos);
    EXPECT_NE(out_.str().find("no Firefox profile"), std::string::npos);
    EXPECT_FALSE(fs::exists(Chromium()));
}

TEST_F(TrustCertTest, WithoutCertutilFailsAndTouchesNothing) {
    zqt::TrustSetup setup = Setup();
    setup.searchPath = "/nonexistent";
    for (auto action : {zqt::TrustCertificate, zqt::UntrustCertificate}) {
        EXPECT_EQ(Run(action, setup), 1);
        EXPECT_NE(err_.str().find("libnss3-tools"), std::string::npos) << err_.str();
    }
    EXPECT_FALSE(fs::exists(home_ + "/.pki"));
}

TEST_F(TrustCertTest, WithoutTheCertificateFailsAndTouchesNothing) {
    zqt::TrustSetup setup = Setup();
    setup.certificate = home_ + "/missing.pem";
    EXPECT_EQ(Run(zqt::TrustCertificate, setup), 1);
    EXPECT_NE(err_.str().find("missing.pem"), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(home_ + "/.pki"));
    EXPECT_EQ(TrustIn(profile_), std::nullopt);
}

TEST_F(TrustCertTest, AFailingDatabaseDoesNotStopTheOthers) {
    // A Chromium folder that cannot be made: a file stands in its way.
    std::ofstream(home_ + "/.pki") << "not a folder";
    EXPECT_EQ(Run(zqt::TrustCertificate, Setup()), 1);
    EXPECT_NE(err_.str().find(Chromium()), std::string::npos) << err_.str();
    EXPECT_EQ(TrustIn(profile_), zqt::kServerPeerTrust);
}

TEST_F(TrustCertTest, TheSameCertificateUnderAnotherNicknameIsReported) {
    // As the hand-written certutil line of earlier instructions added it.
    ASSERT_EQ(Certutil({"-A", "-d", "sql:" + profile_, "-n", "zqtca", "-t", "P,,", "-i",
                        Setup().certificate})
                  .exitStatus,
              0);
    EXPECT_EQ(Run(zqt::TrustCertificate, Setup()), 1);
    EXPECT_NE(err_.str().find(profile_ + ": certutil kept the certificate under another nickname"),
              std::string::npos)
        << err_.str();
    // The other databases are still brought up to date.
    EXPECT_EQ(TrustIn(Chromium()), zqt::kServerPeerTrust);
}

TEST(FindNssDatabases, ChromiumFirstThenProfilesInOrder) {
    std::string pattern = (fs::temp_directory_path() / "zqt-nss-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string home = pattern;
    for (const char* profile : {"b.second", "a.first", "c.nodb"}) {
        fs::create_directories(home + "/.mozilla/firefox/" + profile);
    }
    std::ofstream(home + "/.mozilla/firefox/b.second/cert9.db") << "";
    std::ofstream(home + "/.mozilla/firefox/a.first/cert9.db") << "";
    const std::vector<zqt::NssDatabase> found = zqt::FindNssDatabases(home);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].directory, home + "/.pki/nssdb");
    EXPECT_TRUE(found[0].shared);
    EXPECT_EQ(found[1].directory, home + "/.mozilla/firefox/a.first");
    EXPECT_EQ(found[2].directory, home + "/.mozilla/firefox/b.second");
    EXPECT_FALSE(found[1].shared);
    fs::remove_all(home);
}

}  // namespace
