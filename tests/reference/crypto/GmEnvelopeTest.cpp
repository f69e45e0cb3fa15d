// GM/T 0010 envelopes taken apart by asn1crypto and opened without this
// code: the content key by `openssl pkeyutl -decrypt` with the SM2 key, the
// content by `openssl enc -d -sm4-cbc`.

#include "crypto/GmEnvelope.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/Envelope.h"

namespace ref::test {
namespace {

const std::string kContent = "GM/T 0010 \xE4\xBF\xA1\xE5\xB0\x81 content";
const Bytes kContentBytes(kContent.begin(), kContent.end());

Bytes Sealed() {
    X509Ptr cert = LoadCertificate(Pki().sm2);
    return GmEnvelopeEncrypt({cert.get()}, kContentBytes);
}

TEST(GmEnvelopeTest, AnIndependentParseAndDecryptionAgree) {
    const Bytes gm = Sealed();
    const std::string path = WriteScratch("gm.der", gm);
    const std::string script = WriteScratch(
        "gm.py", AsBytes("import sys\n"
                         "from asn1crypto import cms, core\n"
                         "p = sys.argv[1]\n"
                         "der = open(p, 'rb').read()\n"
                         "class Gm(core.Sequence):\n"
                         "    _fields = [('type', core.ObjectIdentifier),\n"
                         "               ('content', cms.EnvelopedData, {'explicit': 0})]\n"
                         "outer = Gm.load(der)\n"
                         "oid = outer['type'].dotted\n"
                         "ed = outer['content']\n"
                         "assert outer.dump(force=True) == der\n"
                         "eci = ed['encrypted_content_info']\n"
                         "ri = ed['recipient_infos'][0].chosen\n"
                         "alg = eci['content_encryption_algorithm']\n"
                         "iv = core.OctetString.load(alg['parameters'].dump()).native\n"
                         "open(p + '.key', 'wb').write(ri['encrypted_key'].native)\n"
                         "open(p + '.ct', 'wb').write(eci['encrypted_content'].native)\n"
                         "print(oid, ed['version'].native, eci['content_type'].dotted,\n"
                         "      ri['key_encryption_algorithm']['algorithm'].dotted,\n"
                         "      alg['algorithm'].dotted, iv.hex())\n"));
    const CommandResult parsed = RunShell("/usr/bin/python3 " + script + " " + path);
    ASSERT_EQ(parsed.exitCode, 0) << parsed.output;
    std::istringstream fields(parsed.output);
    std::string outer, version, inner, keyAlg, contentAlg, iv;
    fields >> outer >> version >> inner >> keyAlg >> contentAlg >> iv;
    EXPECT_EQ(outer, "1.2.156.10197.6.1.4.2.3");
    EXPECT_EQ(version, "v0");
    EXPECT_EQ(inner, "1.2.156.10197.6.1.4.2.1");
    EXPECT_EQ(keyAlg, "1.2.156.10197.1.301.3");
    EXPECT_EQ(contentAlg, "1.2.156.10197.1.104.2");
    ASSERT_EQ(iv.size(), 32u);

    std::string output;
    ASSERT_TRUE(Openssl(
        "pkeyutl -decrypt -inkey " + Pki().sm2.key + " -in " + path + ".key -out " + path + ".cek",
        &output))
        << output;
    const Bytes cek = ReadBytes(path + ".cek");
    ASSERT_EQ(cek.size(), 16u);
    ASSERT_TRUE(Openssl("enc -d -sm4-cbc -K " + HexEncode(cek) + " -iv " + iv + " -in " + path +
                            ".ct -out " + path + ".plain",
                        &output))
        << output;
    EXPECT_EQ(AsString(ReadBytes(path + ".plain")), kContent);
}

TEST(GmEnvelopeTest, OpensAsCmsAndRefusesOtherForms) {
    const Bytes gm = Sealed();
    EXPECT_TRUE(IsGmEnvelope(gm));
    const Bytes cms = GmEnvelopeAsCms(gm);
    EXPECT_FALSE(IsGmEnvelope(cms));
    EvpPkeyPtr key = LoadPrivateKey(Pki().sm2);
    X509Ptr cert = LoadCertificate(Pki().sm2);
    EXPECT_EQ(EnvelopeDecrypt(cms, key.get(), cert.get()), kContentBytes);

    auto code = [](const std::function<void()>& call) {
        try {
            call();
        } catch (const Failure& failure) {
            return failure.code();
        }
        return int32_t{kOk};
    };
    X509Ptr rsa = LoadCertificate(Pki().rsa);
    EXPECT_EQ(code([&] { GmEnvelopeEncrypt({rsa.get()}, kContentBytes); }), kKeyType);
    EXPECT_EQ(code([&] { GmEnvelopeAsCms(cms); }), kMalformed) << "already PKCS#7";
    EXPECT_EQ(code([&] { GmEnvelopeAsCms(Bytes(gm.begin(), gm.end() - 3)); }), kMalformed);
    Bytes longer = gm;
    longer.push_back(0);
    EXPECT_EQ(code([&] { GmEnvelopeAsCms(longer); }), kMalformed);
    EXPECT_EQ(code([&] { EnvelopeDecrypt(gm, key.get(), cert.get()); }), kUnsupported);
}

}  // namespace
}  // namespace ref::test
