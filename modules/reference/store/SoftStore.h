#pragma once
// The software store: one PKCS#12 file per identity in a 0700 folder, each
// file 0600 and named by the SHA-256 of its certificate. Certificates are
// kept unencrypted inside the file so they can be listed without asking;
// the key is encrypted under the identity's password.

#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "core/Secret.h"

namespace ref {

struct SoftIdentity {
    std::string path;  // absolute path of the .p12 file
    Bytes certDer;     // the end-entity certificate
};

struct OpenedPfx {
    EvpPkeyPtr key;
    X509Ptr cert;
    X509StackPtr chain;  // may be empty, never null
};

// Parses PKCS#12 bytes with a password (legacy RC2 files included). Throws
// Failure: kMalformed (not PKCS#12), kBadPin (wrong password), kNoKey (no
// key or no certificate matching the key).
OpenedPfx ParsePfx(ByteView pfx, const Secret& password);

class SoftStore {
  public:
    explicit SoftStore(std::string dir);

    const std::string& dir() const { return dir_; }

    // The identities whose certificate can be read without a password. A
    // file that cannot be read is skipped. A missing folder is an empty store.
    std::vector<SoftIdentity> List() const;

    // Opens one file of the store with its password (throws as ParsePfx;
    // kFile when the file cannot be read).
    OpenedPfx Open(const std::string& path, const Secret& password) const;

    // Writes an identity re-protected with PBES2/AES-256-CBC and a SHA-256
    // MAC, the certificates unencrypted; returns the file's path. Creates the
    // folder 0700 and the file 0600, never following a symbolic link;
    // replaces the file of the same certificate. Throws Failure(kFile).
    std::string Write(EVP_PKEY* key, X509* cert, STACK_OF(X509) * chain,
                      const Secret& password) const;

    // Whether the store holds this certificate (DER compare).
    bool Contains(ByteView certDer) const;

  private:
    // What a file looked like when its certificate was last read.
    struct FileStamp {
        dev_t dev;
        ino_t ino;
        off_t size;
        time_t mtimeSec;
        long mtimeNsec;
        bool operator==(const FileStamp&) const = default;
    };
    struct CachedPeek {
        FileStamp stamp;
        std::optional<Bytes> der;  // nullopt: no readable certificate
    };

    std::string dir_;
    mutable std::mutex cacheMutex_;
    mutable std::map<std::string, CachedPeek> peeks_;  // by file name, in name order
};

}  // namespace ref
