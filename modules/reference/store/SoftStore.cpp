#include "store/SoftStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "core/Outcome.h"
#include "store/PfxPeek.h"
#include "store/PrivateFiles.h"

namespace ref {
namespace {

constexpr std::string_view kSuffix = ".p12";

// PKCS#12 parameters of the files written here: PBES2 with AES-256-CBC for
// the key, the certificates in the clear so that List can read them.
constexpr int kIterations = 10000;

bool HasSuffix(std::string_view name) {
    return name.size() > kSuffix.size() && name.substr(name.size() - kSuffix.size()) == kSuffix;
}

std::string LowerHex(ByteView bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// The name of a certificate's file: its SHA-256 in lower-case hex.
std::string FileNameOf(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        ERR_clear_error();
        Fail(kInternal, "cannot hash the certificate");
    }
    return LowerHex(ByteView(digest, length)) + std::string(kSuffix);
}

Bytes EncodePfx(PKCS12* p12) {
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12, &der);
    if (length <= 0) {
        ERR_clear_error();
        Fail(kInternal, "cannot encode the PKCS#12 file");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

SoftStore::SoftStore(std::string dir) : dir_(std::move(dir)) {
    // "store/" would make lstat and O_NOFOLLOW look through a symbolic link.
    while (dir_.size() > 1 && dir_.back() == '/') {
        dir_.pop_back();
    }
}

std::vector<SoftIdentity> SoftStore::List() const {
    std::vector<SoftIdentity> out;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir_.c_str()), closedir);
    if (!folder) {
        return out;  // a store never written to has no folder yet
    }
    std::vector<std::string> names;
    std::vector<FileStamp> stamps;
    while (const dirent* entry = readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name.front() == '.' || !HasSuffix(name)) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(folder.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode)) {
            continue;
        }
        names.emplace_back(name);
        stamps.push_back(
            FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec});
    }
    std::lock_guard lock(cacheMutex_);
    std::map<std::string, CachedPeek> seen;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        // A file unchanged since the last listing is not read and parsed again.
        auto cached = peeks_.find(name);
        if (cached == peeks_.end() || !(cached->second.stamp == stamps[i])) {
            CachedPeek peek{stamps[i], std::nullopt};
            try {
                // A file that keeps its certificate encrypted too is left out: it
                // can be read only after its password is given.
                peek.der = PeekCertificate(ReadPrivateFile(dir_ + "/" + name));
            } catch (const Failure&) {
                continue;  // unreadable, replaced or removed meanwhile
            }
            cached = peeks_.insert_or_assign(name, std::move(peek)).first;
        }
        seen.emplace(name, cached->second);
    }
    peeks_ = std::move(seen);
    for (const auto& [name, peek] : peeks_) {
        if (peek.der)
            out.push_back(SoftIdentity{dir_ + "/" + name, *peek.der});
    }
    return out;
}

OpenedPfx SoftStore::Open(const std::string& path, const Secret& password) const {
    return ParsePfx(ReadPrivateFile(path), password);
}

std::string SoftStore::Write(EVP_PKEY* key, X509* cert, STACK_OF(X509) * chain,
                             const Secret& password) const {
    if (key == nullptr || cert == nullptr || X509_check_private_key(cert, key) != 1) {
        ERR_clear_error();
        Fail(kNoKey, "the private key does not belong to the certificate");
    }
    // No MAC from PKCS12_create (mac_iter -1): it would use SHA-1; the
    // SHA-256 MAC is added below.
    Pkcs12Ptr p12(PKCS12_create(password.c_str(), nullptr, key, cert, chain, NID_aes_256_cbc, -1,
                                kIterations, -1, 0));
    if (!p12 || PKCS12_set_mac(p12.get(), password.c_str(), static_cast<int>(password.size()),
                               nullptr, 0, kIterations, EVP_sha256()) != 1) {
        const std::string reason = TakeOpensslError();
        Fail(kInternal, "cannot make the PKCS#12 file: " + reason);
    }
    const std::string name = FileNameOf(cert);
    WritePrivateFile(dir_, name, EncodePfx(p12.get()));
    return dir_ + "/" + name;
}

bool SoftStore::Contains(ByteView certDer) const {
    for (const SoftIdentity& identity : List()) {
        if (std::equal(identity.certDer.begin(), identity.certDer.end(), certDer.begin(),
                       certDer.end())) {
            return true;
        }
    }
    return false;
}

}  // namespace ref
