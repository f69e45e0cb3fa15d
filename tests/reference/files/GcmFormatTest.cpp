// The password format: round trips at chunk edges, an independent decoder,
// and every kind of damage refused.
#include <gtest/gtest.h>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "crypto/SymmetricGcm.h"
#include "files/FilesTestSupport.h"
#include "support/TestPki.h"

namespace {

using ref::Bytes;

constexpr uint32_t kFast = 1000;  // iterations: the format carries the count
constexpr size_t kChunk = 64 * 1024, kHeader = 40, kTag = 16;

std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + i / 7) & 0xff);
    return s;
}

std::string Encrypt(const std::string& password, const std::string& plain,
                    uint32_t iterations = kFast) {
    ref::BioPtr in = ref::MemoryBio(ref::AsBytes(plain));
    ref::BioPtr out(BIO_new(BIO_s_mem()));
    ref::PasswordEncryptStream(password, in.get(), out.get(), iterations);
    return ref::AsString(ref::BioBytes(out.get()));
}

int32_t Decrypt(const std::string& password, const std::string& file, std::string* plain) {
    return CodeOf([&] {
        ref::BioPtr in = ref::MemoryBio(ref::AsBytes(file));
        ref::BioPtr out(BIO_new(BIO_s_mem()));
        ref::PasswordDecryptStream(password, in.get(), out.get());
        *plain = ref::AsString(ref::BioBytes(out.get()));
    });
}

TEST(GcmFormatTest, RoundTripsAtChunkEdges) {
    const size_t sizes[] = {0, 1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        const std::string plain = Pattern(size);
        const std::string file = Encrypt("pässword", plain);
        // Full chunks, then one short (maybe empty) final chunk.
        EXPECT_EQ(file.size(), kHeader + size + (size / kChunk + 1) * kTag);
        std::string back;
        ASSERT_EQ(Decrypt("pässword", file, &back), ref::kOk);
        EXPECT_EQ(back, plain);
    }
}

TEST(GcmFormatTest, HeaderLayoutAndDefaultCount) {
    const std::string file = Encrypt("pw", "abc", ref::kPasswordIterations);
    ASSERT_GE(file.size(), kHeader);
    EXPECT_EQ(file.substr(0, 8), std::string("ZQTAES1\x01", 8));
    EXPECT_EQ(ref::HexEncode(ref::AsBytes(file.substr(24, 4))), "00030D40");  // 200000
    EXPECT_NE(file.substr(8, 16), Encrypt("pw", "abc").substr(8, 16));        // fresh salt
}

// A decoder written from the format's description alone, in Python.
TEST(GcmFormatTest, IndependentDecoderAgrees) {
    ScratchDir dir;
    const std::string plain = Pattern(2 * kChunk + 5);
    WriteFileText(dir.path() + "/f", Encrypt("secret", plain));
    WriteFileText(dir.path() + "/d.py", R"(import hashlib, struct, sys
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
d = open(sys.argv[1], 'rb').read()
h = d[:40]
assert h[:8] == b'ZQTAES1\x01'
salt, (n,), nonce = h[8:24], struct.unpack('>I', h[24:28]), h[28:40]
g = AESGCM(hashlib.pbkdf2_hmac('sha256', b'secret', salt, n, 32))
body, out, i, C = d[40:], b'', 0, 65536 + 16
while True:
    piece, body = body[:C], body[C:]
    final = len(piece) < C
    nn = nonce[:4] + (int.from_bytes(nonce[4:], 'big') ^ i).to_bytes(8, 'big')
    out += g.decrypt(nn, piece, h + i.to_bytes(8, 'big') + bytes([final]))
    i += 1
    if final: break
sys.stdout.buffer.write(out)
)");
    const CommandResult r = RunShell("/usr/bin/python3 " + ShellQuote(dir.path() + "/d.py") + " " +
                                     ShellQuote(dir.path() + "/f") + " 2>/dev/null");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, plain);
}

TEST(GcmFormatTest, WrongPasswordAndEmptyPassword) {
    const std::string file = Encrypt("right", "content");
    std::string back;
    EXPECT_EQ(Decrypt("wrong", file, &back), ref::kDecrypt);
    EXPECT_EQ(Decrypt("", file, &back), ref::kDecrypt);
    EXPECT_EQ(CodeOf([] { Encrypt("", "x"); }), ref::kBadParam);
}

TEST(GcmFormatTest, EveryChangedByteIsCaught) {
    const std::string file = Encrypt("pw", Pattern(100));
    for (size_t i = 0; i < file.size(); ++i) {
        std::string bad = file;
        bad[i] = static_cast<char>(bad[i] ^ 0x01);
        std::string back;
        EXPECT_EQ(Decrypt("pw", bad, &back), ref::kDecrypt) << "byte " << i;
    }
}

TEST(GcmFormatTest, TruncatedReorderedOrExtendedFilesAreCaught) {
    const std::string file = Encrypt("pw", Pattern(2 * kChunk + 10));
    const size_t full = kChunk + kTag;
    std::string swapped = file;
    swapped.replace(kHeader, full, file.substr(kHeader + full, full));
    swapped.replace(kHeader + full, full, file.substr(kHeader, full));
    const std::string cases[] = {
        file.substr(0, kHeader + 2 * full),     // last chunk dropped
        file.substr(0, kHeader + full),         // two dropped
        file.substr(0, kHeader),                // only the header
        file.substr(0, kHeader + full + 1000),  // cut inside a chunk
        file.substr(0, file.size() - 1),        // cut inside the last chunk
        file.substr(0, 20),                     // cut inside the header
        file + "x",                             // appended
        swapped,                                // chunks reordered
        "",
    };
    for (const std::string& bad : cases) {
        std::string back;
        EXPECT_EQ(Decrypt("pw", bad, &back), ref::kDecrypt) << bad.size();
    }
    std::string back;
    EXPECT_EQ(Decrypt("pw", file, &back), ref::kOk);
}

}  // namespace
