#include "support/TestPki.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>

// The subject of every identity is what `openssl x509 -subject -nameopt
// RFC2253` prints: most specific first, e.g. "CN=rsa leaf,O=zqtca test".

namespace {

constexpr const char* kGmId = "1234567812345678";

// One configuration for every openssl command: the extension sets and a
// minimal `openssl ca` setup for the back-dated certificate (x509 -req cannot
// set a validity period in the past on 3.0).
constexpr const char* kConfig = R"([req]
distinguished_name = dn
[dn]
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[sign_leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ec_leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,keyAgreement
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[self_leaf]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature,nonRepudiation,keyEncipherment
subjectKeyIdentifier = hash
[ca]
default_ca = backdated_ca
[backdated_ca]
database = index.txt
serial = serial.txt
new_certs_dir = .
policy = policy_any
preserve = yes
copy_extensions = none
unique_subject = no
[policy_any]
organizationName = optional
commonName = supplied
)";

void Run(const std::string& dir, const std::string& command) {
    CommandResult result = RunShell("cd " + ShellQuote(dir) + " && " + command);
    if (result.exitCode != 0) {
        throw std::runtime_error("test PKI: `" + command + "` failed (" +
                                 std::to_string(result.exitCode) + "):\n" + result.output);
    }
}

std::string Query(const std::string& dir, const std::string& command, const std::string& prefix) {
    CommandResult result = RunShell("cd " + ShellQuote(dir) + " && " + command);
    std::string line = result.output.substr(0, result.output.find('\n'));
    if (result.exitCode != 0 || line.rfind(prefix, 0) != 0) {
        throw std::runtime_error("test PKI: `" + command + "` printed: " + result.output);
    }
    return line.substr(prefix.size());
}

// A positive serial of 64 random bits, leading nibble non-zero.
std::string RandomSerial() {
    std::random_device device;
    std::mt19937_64 generator((static_cast<unsigned long long>(device()) << 32) ^ device());
    const char* digits = "0123456789ABCDEF";
    std::string serial(1, digits[1 + generator() % 7]);
    for (int i = 0; i < 15; ++i) {
        serial += digits[generator() % 16];
    }
    return serial;
}

std::string Subj(const std::string& commonName) {
    // openssl prints RDNs in reverse order in RFC 2253 form, so O goes first.
    return ShellQuote("/O=zqtca test/CN=" + commonName);
}

class Builder {
  public:
    explicit Builder(std::string dir) : dir_(std::move(dir)) {
        WriteFileText(dir_ + "/pki.cnf", kConfig);
    }

    TestIdentity SelfSigned(const std::string& name, const std::string& keyAlgorithm,
                            const std::string& commonName, const std::string& extensions,
                            const std::string& signOptions) {
        MakeKey(name, keyAlgorithm);
        Run(dir_, "openssl req -x509 -new -config pki.cnf -extensions " + extensions + " -key " +
                      name + ".key " + signOptions + " -subj " + Subj(commonName) +
                      " -days 3650 -set_serial 0x" + RandomSerial() + " -out " + name + ".pem");
        return Describe(name);
    }

    TestIdentity Issued(const std::string& name, const std::string& keyAlgorithm,
                        const std::string& commonName, const std::string& extensions,
                        const std::string& signOptions, const std::string& verifyOptions,
                        const std::string& ca) {
        MakeRequest(name, keyAlgorithm, commonName, signOptions);
        Run(dir_, "openssl x509 -req -in " + name + ".csr -CA " + ca + ".pem -CAkey " + ca +
                      ".key " + signOptions + " " + verifyOptions + " -set_serial 0x" +
                      RandomSerial() + " -days 825 -extfile pki.cnf -extensions " + extensions +
                      " -out " + name + ".pem");
        return Describe(name);
    }

    TestIdentity Backdated(const std::string& name, const std::string& commonName,
                           const std::string& ca) {
        MakeRequest(name, "RSA", commonName, "-sha256");
        WriteFileText(dir_ + "/index.txt", "");
        WriteFileText(dir_ + "/serial.txt", RandomSerial() + "\n");
        Run(dir_, "openssl ca -batch -config pki.cnf -notext -md sha256 -cert " + ca +
                      ".pem -keyfile " + ca + ".key -in " + name + ".csr -out " + name +
                      ".pem -startdate 20200101000000Z -enddate 20210101000000Z "
                      "-extfile pki.cnf -extensions sign_leaf");
        return Describe(name);
    }

  private:
    void MakeKey(const std::string& name, const std::string& algorithm) {
        std::string options;
        if (algorithm == "RSA") {
            options = " -pkeyopt rsa_keygen_bits:2048";
        } else if (algorithm == "EC") {
            options = " -pkeyopt ec_paramgen_curve:P-256 -pkeyopt ec_param_enc:named_curve";
        }
        Run(dir_, "openssl genpkey -algorithm " + algorithm + options + " -out " + name + ".key");
    }

    void MakeRequest(const std::string& name, const std::string& keyAlgorithm,
                     const std::string& commonName, const std::string& signOptions) {
        MakeKey(name, keyAlgorithm);
        Run(dir_, "openssl req -new -config pki.cnf -key " + name + ".key " + signOptions +
                      " -subj " + Subj(commonName) + " -out " + name + ".csr");
    }

    TestIdentity Describe(const std::string& name) {
        TestIdentity identity;
        identity.key = dir_ + "/" + name + ".key";
        identity.cert = dir_ + "/" + name + ".pem";
        identity.der = dir_ + "/" + name + ".der";
        Run(dir_, "openssl x509 -in " + name + ".pem -outform DER -out " + name + ".der");
        identity.serial =
            Query(dir_, "openssl x509 -in " + name + ".pem -noout -serial", "serial=");
        identity.subject = Query(
            dir_, "openssl x509 -in " + name + ".pem -noout -subject -nameopt RFC2253", "subject=");
        return identity;
    }

    std::string dir_;
};

constexpr const char* kIdentityNames[] = {"rsaCa", "rsa",     "ec",       "sm2Ca",
                                          "sm2",   "expired", "untrusted"};

TestIdentity* IdentityByName(TestPki& pki, const std::string& name) {
    TestIdentity* all[] = {&pki.rsaCa, &pki.rsa,     &pki.ec,       &pki.sm2Ca,
                           &pki.sm2,   &pki.expired, &pki.untrusted};
    for (size_t i = 0; i < std::size(all); ++i) {
        if (name == kIdentityNames[i])
            return all[i];
    }
    return nullptr;
}

void BuildInto(TestPki& pki) {
    Builder builder(pki.dir);
    const std::string sm2Sign = std::string("-sm3 -sigopt distid:") + kGmId;
    const std::string sm2Verify = std::string("-vfyopt distid:") + kGmId;
    pki.rsaCa = builder.SelfSigned("rsaCa", "RSA", "rsa ca", "ca_ext", "-sha256");
    pki.rsa = builder.Issued("rsa", "RSA", "rsa leaf", "sign_leaf", "-sha256", "", "rsaCa");
    pki.ec = builder.Issued("ec", "EC", "ec leaf", "ec_leaf", "-sha256", "", "rsaCa");
    pki.sm2Ca = builder.SelfSigned("sm2Ca", "SM2", "sm2 ca", "ca_ext", sm2Sign);
    pki.sm2 = builder.Issued("sm2", "SM2", "sm2 leaf", "sign_leaf", sm2Sign, sm2Verify, "sm2Ca");
    pki.expired = builder.Backdated("expired", "expired leaf", "rsaCa");
    pki.untrusted =
        builder.SelfSigned("untrusted", "RSA", "untrusted leaf", "self_leaf", "-sha256");

    std::filesystem::create_directory(pki.dir + "/trust");
    std::filesystem::copy_file(pki.rsaCa.cert, pki.dir + "/trust/rsaCa.pem");
    std::filesystem::copy_file(pki.sm2Ca.cert, pki.dir + "/trust/sm2Ca.pem");
}

// One line per identity: name, key, cert, der, serial, subject, tab-separated.
void WriteManifest(TestPki& pki, const std::string& path) {
    std::ofstream out(path + ".tmp");
    for (const char* name : kIdentityNames) {
        const TestIdentity& id = *IdentityByName(pki, name);
        out << name << '\t' << id.key << '\t' << id.cert << '\t' << id.der << '\t' << id.serial
            << '\t' << id.subject << '\n';
    }
    out.close();
    std::filesystem::rename(path + ".tmp", path);
}

bool ReadManifest(TestPki& pki, const std::string& path) {
    std::ifstream in(path);
    std::string line;
    size_t count = 0;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
            fields.push_back(line.substr(start, tab - start));
        }
        fields.push_back(line.substr(start));
        TestIdentity* id = fields.size() == 6 ? IdentityByName(pki, fields[0]) : nullptr;
        if (id == nullptr)
            return false;
        *id = TestIdentity{fields[1], fields[2], fields[3], fields[4], fields[5]};
        ++count;
    }
    return count == std::size(kIdentityNames);
}

// A folder of this process's own, removed when it exits; only the process
// that made it removes it (a forked child exiting must not pull the files
// from under its parent).
struct ScratchDir {
    std::string path;
    pid_t owner = 0;

    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zqt-testpki-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("test PKI: mkdtemp failed");
        }
        path = pattern;
        owner = getpid();
    }
    ~ScratchDir() {
        if (owner == getpid()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
};

const std::string& ProcessScratch() {
    static ScratchDir scratch;
    return scratch.path;
}

// With ZQT_TEST_PKI_CACHE set (ctest sets it to a folder of the build), the
// keys are made once for every test process of the build, under a lock, and
// remade after a day, and each process gets a copy; otherwise they are made
// once per process in its scratch folder.
TestPki MakePki() {
    TestPki pki;
    const char* cache = std::getenv("ZQT_TEST_PKI_CACHE");
    if (cache == nullptr || *cache == '\0') {
        pki.dir = ProcessScratch() + "/pki";
        std::filesystem::create_directory(pki.dir);
        BuildInto(pki);
        return pki;
    }
    pki.dir = cache;
    const std::string lockPath = std::string(cache) + ".lock";
    const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        throw std::runtime_error("test PKI: cannot lock " + lockPath);
    }
    const std::string manifest = pki.dir + "/manifest.tsv";
    std::error_code ec;
    const auto age = std::filesystem::file_time_type::clock::now() -
                     std::filesystem::last_write_time(manifest, ec);
    const bool fresh = !ec && age < std::chrono::hours(24);
    if (!fresh || !ReadManifest(pki, manifest)) {
        std::filesystem::remove_all(pki.dir, ec);
        std::filesystem::create_directories(pki.dir);
        BuildInto(pki);
        WriteManifest(pki, manifest);
    }
    close(lock);
    // Tests write beside the keys, so each process works on its own copy.
    TestPki own;
    own.dir = ProcessScratch() + "/pki";
    std::filesystem::copy(pki.dir, own.dir, std::filesystem::copy_options::recursive);
    const auto moved = [&](const std::string& path) {
        return own.dir + path.substr(pki.dir.size());
    };
    for (const char* name : kIdentityNames) {
        const TestIdentity& from = *IdentityByName(pki, name);
        *IdentityByName(own, name) = TestIdentity{moved(from.key), moved(from.cert),
                                                  moved(from.der), from.serial, from.subject};
    }
    return own;
}

}  // namespace

const TestPki& TestPki::Shared() {
    static const TestPki pki = MakePki();  // thread-safe first build
    return pki;
}

std::string TestPki::Pkcs12(const TestIdentity& identity, const std::string& password,
                            bool legacy) const {
    static std::atomic<unsigned> counter{0};
    const std::string path = ProcessScratch() + "/bundle-" + std::to_string(++counter) + ".p12";
    // Modern: certificate in the clear, key under PBES2/AES-256 (3.0's default).
    // Legacy: RC2-40 for the certificate and 3DES for the key.
    std::string options = legacy ? "-legacy" : "-certpbe NONE";
    Run(ProcessScratch(), "openssl pkcs12 -export " + options + " -inkey " +
                              ShellQuote(identity.key) + " -in " + ShellQuote(identity.cert) +
                              " -passout " + ShellQuote("pass:" + password) + " -out " +
                              ShellQuote(path));
    return path;
}

std::string TestPki::TrustDir() const {
    return dir + "/trust";
}

CommandResult RunShell(const std::string& command) {
    CommandResult result;
    std::string line = "(" + command + ") 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr) {
        result.output = "popen failed";
        return result;
    }
    char buffer[4096];
    size_t count = 0;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, count);
    }
    int status = pclose(pipe);
    result.exitCode = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}
