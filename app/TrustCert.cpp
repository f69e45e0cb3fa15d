#include "app/TrustCert.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "app/CertutilOutput.h"
#include "app/ChildProcess.h"
#include "app/NssDatabases.h"

namespace zqt {

namespace {

// More entries of one nickname than this is not a database we should keep
// deleting from.
constexpr int kMaxDeletions = 16;

std::string FirstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

// certutil on one database, with its arguments as a vector.
class Database {
  public:
    Database(std::string certutil, std::string directory)
        : certutil_(std::move(certutil)), directory_(std::move(directory)) {}

    const std::string& directory() const { return directory_; }

    // On failure, sets problem to certutil's own reason.
    std::optional<ChildResult> Run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-d", "sql:" + directory_});
        ChildResult result = RunChild(certutil_, args);
        if (result.spawnError != 0) {
            problem_ = "cannot run " + certutil_ + ": " + std::strerror(result.spawnError);
            return std::nullopt;
        }
        if (result.exitStatus != 0) {
            problem_ = "certutil " + args[2] + " failed: " + FirstLine(result.err);
            return std::nullopt;
        }
        return result;
    }

    // Our entry's trust, none when absent; false when the listing failed.
    bool ReadTrust(std::optional<std::string>& trust) {
        auto listing = Run({"-L"});
        if (!listing) {
            return false;
        }
        trust = ListedTrust(listing->out, kTrustNickname);
        return true;
    }

    bool DeleteOurs() {
        for (int i = 0; i < kMaxDeletions; ++i) {
            std::optional<std::string> trust;
            if (!ReadTrust(trust)) {
                return false;
            }
            if (!trust) {
                return true;
            }
            if (!Run({"-D", "-n", kTrustNickname})) {
                return false;
            }
        }
        problem_ = std::string("too many entries named ") + kTrustNickname;
        return false;
    }

    const std::string& problem() const { return problem_; }

  private:
    std::string certutil_;
    std::string directory_;
    std::string problem_;
};

// Chromium makes its database with an empty password; so do we, so that
// neither it nor certutil ever asks for one.
bool CreateShared(const std::string& home, Database& db, std::string& problem) {
    for (const std::string& dir : {home + "/.pki", db.directory()}) {
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
            problem = "cannot make " + dir + ": " + std::strerror(errno);
            return false;
        }
    }
    if (!db.Run({"-N", "--empty-password"})) {
        problem = db.problem();
        return false;
    }
    return true;
}

std::string Quoted(const char* text) {
    return std::string("\"") + text + "\"";
}

// Brings one database to trusting body; returns what changed, or nothing with
// problem set.
std::optional<std::string> TrustIn(const TrustSetup& setup, const NssDatabase& entry, Database& db,
                                   const std::string& body, std::string& problem) {
    std::string created;
    if (entry.shared && !HasNssDatabase(entry.directory)) {
        if (!CreateShared(setup.home, db, problem)) {
            return std::nullopt;
        }
        created = "made the database; ";
    }
    std::optional<std::string> trust;
    if (!db.ReadTrust(trust)) {
        problem = db.problem();
        return std::nullopt;
    }
    std::string action = "added ";
    if (trust) {
        auto pem = db.Run({"-L", "-n", kTrustNickname, "-a"});
        if (!pem) {
            problem = db.problem();
            return std::nullopt;
        }
        if (PemCertificateBodies(pem->out) == std::vector<std::string>{body}) {
            if (*trust == kServerPeerTrust) {
                return std::string("already trusts the certificate; nothing changed");
            }
            if (!db.Run({"-M", "-n", kTrustNickname, "-t", kServerPeerTrust})) {
                problem = db.problem();
                return std::nullopt;
            }
            return "set the trust of " + Quoted(kTrustNickname) + " from " + *trust + " to " +
                   kServerPeerTrust;
        }
        // An entry from an older pair: a browser would then reject the new one.
        if (!db.DeleteOurs()) {
            problem = db.problem();
            return std::nullopt;
        }
        action = "replaced an older certificate with ";
    }
    if (!db.Run(
            {"-A", "-n", kTrustNickname, "-t", kServerPeerTrust, "-a", "-i", setup.certificate})) {
        problem = db.problem();
        return std::nullopt;
    }
    // NSS keeps a certificate it already holds under its first nickname; then
    // ours is not listed, and a later run would "add" it again.
    if (!db.ReadTrust(trust) || !trust) {
        problem =
            "certutil kept the certificate under another nickname; delete that entry "
            "(certutil -L -d sql:" +
            db.directory() + " lists it) and run this again";
        return std::nullopt;
    }
    return created + action + Quoted(kTrustNickname) + " (trust " + kServerPeerTrust + ")";
}

std::optional<std::string> UntrustIn(Database& db, std::string& problem) {
    if (!HasNssDatabase(db.directory())) {
        return std::string("no database; nothing changed");
    }
    std::optional<std::string> trust;
    if (!db.ReadTrust(trust)) {
        problem = db.problem();
        return std::nullopt;
    }
    if (!trust) {
        return "has no " + Quoted(kTrustNickname) + "; nothing changed";
    }
    if (!db.DeleteOurs()) {
        problem = db.problem();
        return std::nullopt;
    }
    return "removed " + Quoted(kTrustNickname);
}

std::optional<std::string> FindCertutil(const TrustSetup& setup, std::ostream& err) {
    auto certutil = FindProgram("certutil", setup.searchPath);
    if (!certutil) {
        err << "zqtca-service: certutil not found; it is in the libnss3-tools package\n";
    }
    return certutil;
}

bool UsableHome(const TrustSetup& setup, std::ostream& err) {
    if (setup.home.empty() || setup.home.front() != '/') {
        err << "zqtca-service: HOME is not set to an absolute path\n";
        return false;
    }
    return true;
}

// The one certificate of the PEM file, as a Base64 body.
std::optional<std::string> ReadCertificate(const std::string& file, std::ostream& err) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const std::vector<std::string> bodies = PemCertificateBodies(text.str());
    if (!in || bodies.size() != 1) {
        err << "zqtca-service: " << file
            << (in ? " does not hold exactly one certificate\n"
                   : " cannot be read; the service makes it on its first start\n");
        return std::nullopt;
    }
    return bodies.front();
}

void NoteMissingFirefox(const std::vector<NssDatabase>& databases, const TrustSetup& setup,
                        std::ostream& out) {
    if (databases.size() == 1) {
        out << "no Firefox profile with a cert9.db under " << setup.home << "/.mozilla/firefox\n";
    }
}

// Runs `change` on every database found, one line each on `out` (what
// changed) or `err` (why not); 1 when any of them failed.
template <typename Change>
int InEachDatabase(const TrustSetup& setup, const std::string& certutil, std::ostream& out,
                   std::ostream& err, Change change) {
    int status = 0;
    const std::vector<NssDatabase> databases = FindNssDatabases(setup.home);
    for (const NssDatabase& entry : databases) {
        Database db(certutil, entry.directory);
        std::string problem;
        if (auto done = change(entry, db, problem)) {
            out << entry.directory << ": " << *done << '\n';
        } else {
            err << "zqtca-service: " << entry.directory << ": " << problem << '\n';
            status = 1;
        }
    }
    NoteMissingFirefox(databases, setup, out);
    out << std::flush;
    return status;
}

}  // namespace

std::string DefaultCertificateDirectory(const std::string& home) {
    return home + "/.local/share/zqtca/ZQTService";
}

int TrustCertificate(const TrustSetup& setup, std::ostream& out, std::ostream& err) {
    auto certutil = FindCertutil(setup, err);
    if (!certutil || !UsableHome(setup, err)) {
        return 1;
    }
    auto body = ReadCertificate(setup.certificate, err);
    if (!body) {
        return 1;
    }
    return InEachDatabase(setup, *certutil, out, err,
                          [&](const NssDatabase& entry, Database& db, std::string& problem) {
                              return TrustIn(setup, entry, db, *body, problem);
                          });
}

int UntrustCertificate(const TrustSetup& setup, std::ostream& out, std::ostream& err) {
    auto certutil = FindCertutil(setup, err);
    if (!certutil || !UsableHome(setup, err)) {
        return 1;
    }
    return InEachDatabase(setup, *certutil, out, err,
                          [](const NssDatabase&, Database& db, std::string& problem) {
                              return UntrustIn(db, problem);
                          });
}

}  // namespace zqt
