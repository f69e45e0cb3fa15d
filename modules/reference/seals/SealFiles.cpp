#include "seals/SealFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "core/Outcome.h"
#include "core/Text.h"
#include "inventory/CertFacts.h"
#include "seals/SealLimits.h"
#include "store/PrivateFiles.h"

namespace ref {

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0)
            close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

[[noreturn]] void FailFile(const std::string& what, const std::string& path, int error) {
    Fail(kFile, what + " " + path + ": " + std::strerror(error));
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

std::string NameDigest(std::string_view name) {
    return AsciiLower(HexEncode(Digest(AsBytes(name), EVP_sha256())));
}

std::string SealFileName(std::string_view name, int32_t type) {
    const std::string digest = NameDigest(name);
    return type == 1 ? digest + ".json" : digest + "." + std::to_string(type) + ".json";
}

std::optional<Bytes> ReadOwnFile(const std::string& path, size_t limit) {
    FdCloser file{open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
    if (file.fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        FailFile("cannot open", path, errno);
    }
    struct stat st {};
    if (fstat(file.fd, &st) != 0)
        FailFile("cannot read", path, errno);
    if (!S_ISREG(st.st_mode))
        Fail(kFile, path + " is not a regular file");
    if (static_cast<uint64_t>(st.st_size) > limit)
        Fail(kFile, path + " is larger than any seal or licence");
    Bytes bytes(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            FailFile("cannot read", path, errno);
        if (n == 0)
            break;  // shrunk while we read: keep what is there
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

std::vector<SealRecord> FolderSeals(const std::string& sealDir) {
    std::vector<SealRecord> records;
    std::unique_ptr<DIR, DirCloser> dir(opendir(sealDir.c_str()));
    if (!dir)
        return records;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string file = entry->d_name;
        if (file.empty() || file[0] == '.' || !EndsWith(file, ".json"))
            continue;
        try {
            const std::optional<Bytes> bytes = ReadOwnFile(sealDir + "/" + file, kMaxRecordJson);
            if (!bytes)
                continue;
            SealRecord record = ParseSealRecord(AsString(*bytes));
            // A record put under another name's file is not what it claims.
            if (SealFileName(record.name, record.type) == file)
                records.push_back(std::move(record));
        } catch (const Failure&) {
            // A broken or foreign file is skipped, as a broken token object is.
        }
    }
    std::sort(records.begin(), records.end(), [](const SealRecord& a, const SealRecord& b) {
        return a.name != b.name ? a.name < b.name : a.type < b.type;
    });
    return records;
}

void PutFolderSeal(const std::string& sealDir, const SealRecord& record) {
    const std::string json = SealRecordJson(record, true);
    WritePrivateFile(sealDir, SealFileName(record.name, record.type), AsBytes(json));
}

}  // namespace ref
