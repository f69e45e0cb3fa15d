// Methods that make signatures: raw, over a digest, CMS attached and
// detached, the SM2 family and its signing window.
#include <chrono>

#include "control/KeyAccess.h"
#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/RawSignature.h"
#include "methods/MethodSupport.h"
#include "methods/SealLookup.h"

namespace ref {

namespace {

struct SignRequest {
    std::string sel;
    Bytes data;
    SigForm form = SigForm::kDer;
    std::string sm2Id = std::string(kGmSm2Id);
    bool sm2Only = false;
};

std::shared_ptr<UnlockedKey> Unlock(MainControl& c, const std::string& sel, bool sm2Only,
                                    const char* operation) {
    const CertEntry entry = ChooseSigner(c, sel);
    if (sm2Only)
        RequireSm2(entry.cert.get());
    return UnlockKey(c, entry, operation);
}

std::string SignRaw(MainControl& c, const SignRequest& r, const char* operation) {
    auto key = Unlock(c, r.sel, r.sm2Only, operation);
    const Hash hash = SigningHash(c, key->cert());
    return Base64Result(WithKey(
        *key, operation, [&] { return SignData(key->key(), hash, r.data, r.form, r.sm2Id); }));
}

std::string SignCms(MainControl& c, const std::string& sel, const Bytes& data, bool detached,
                    bool sm2Only) {
    auto key = Unlock(c, sel, sm2Only, detached ? "Sign data (detached)" : "Sign data");
    const Hash hash = SigningHash(c, key->cert());
    return Base64Result(WithKey(*key, "CMS signing", [&] {
        return CmsSign(key->key(), key->cert(), key->chain(), data, detached, hash);
    }));
}

SigForm FormOf(uint32_t flags) {
    return (flags & kFlagRawRs) != 0 ? SigForm::kRs : SigForm::kDer;
}

std::string Sign(MainControl& c, const MethodArgs& a) {
    return SignRaw(c, {a.Text(1), InputData(a, 0, 0)}, "Sign data");
}

std::string SignEx(MainControl& c, const MethodArgs& a) {
    const uint32_t flags = ParseFlags(a.Text(2));
    SignRequest r{a.Text(1), InputData(a, 0, flags)};
    r.form = FormOf(flags);
    return SignRaw(c, r, "Sign data");
}

std::string Signhash(MainControl& c, const MethodArgs& a) {
    static constexpr Hash kByNumber[] = {Hash::kSha1, Hash::kSha256, Hash::kSha384, Hash::kSha512};
    const int32_t alg = a.I4(1);
    if (alg < 1 || alg > 4)
        Fail(kBadParam, "unknown hash number " + std::to_string(alg));
    const Bytes digest = DecodeParam(a.Text(0), "the digest");
    const CertEntry entry = ChooseSigner(c, a.Text(2));
    if (CertificateKind(entry.cert.get()) == KeyKind::kSm2) {
        Fail(kKeyType, "an SM2 key signs a ready digest with GMSM2Signhash");
    }
    if (digest.size() != HashSize(kByNumber[alg - 1])) {
        Fail(kBadParam, std::string("a ") + HashName(kByNumber[alg - 1]) + " digest has " +
                            std::to_string(HashSize(kByNumber[alg - 1])) + " bytes");
    }
    auto key = UnlockKey(c, entry, "Sign a digest");
    return Base64Result(WithKey(*key, "Signing a digest", [&] {
        return SignDigest(key->key(), kByNumber[alg - 1], digest, SigForm::kDer);
    }));
}

std::string SignSeal(MainControl& c, const MethodArgs& a) {
    const SealBinding seal = FindSealBinding(c, a.Text(1));
    return SignCms(c, seal.certSerial, InputData(a, 0, 0), true, false);
}

std::string AttachSign(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, 0), false, false);
}
std::string AttachSignEx(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, ParseFlags(a.Text(2))), false, false);
}
std::string DetachSign(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, 0), true, false);
}
std::string DetachSignEx(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, ParseFlags(a.Text(2))), true, false);
}

std::string Sm2Sign(MainControl& c, const MethodArgs& a) {
    SignRequest r{a.Text(1), InputData(a, 0, 0)};
    r.sm2Only = true;
    return SignRaw(c, r, "Sign data (SM2)");
}
std::string Sm2SignEx(MainControl& c, const MethodArgs& a) {
    SignRequest r{a.Text(1), InputData(a, 0, 0)};
    r.sm2Only = true;
    const std::string id = a.Text(2);
    if (!id.empty())
        r.sm2Id = id;
    if (r.sm2Id.size() > 8191)
        Fail(kBadParam, "the SM2 user id is too long");
    return SignRaw(c, r, "Sign data (SM2)");
}
std::string Sm2SignEx2(MainControl& c, const MethodArgs& a) {
    SignRequest r{"", InputData(a, 0, 0)};
    r.sm2Only = true;
    r.form = SigForm::kRs;
    return SignRaw(c, r, "Sign data (SM2)");
}
std::string Sm2SignEx3(MainControl& c, const MethodArgs& a) {
    SignRequest r{a.Text(1), InputData(a, 0, kFlagBase64Input)};
    r.sm2Only = true;
    return SignRaw(c, r, "Sign data (SM2)");
}
std::string Sm2AttachSign(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, 0), false, true);
}
std::string Sm2DetachSign(MainControl& c, const MethodArgs& a) {
    return SignCms(c, a.Text(1), InputData(a, 0, 0), true, true);
}
std::string GmSm2Sign(MainControl& c, const MethodArgs& a) {
    SignRequest r{a.Text(1), InputData(a, 0, 0)};
    r.sm2Only = true;
    r.form = SigForm::kRs;
    return SignRaw(c, r, "Sign data (SM2)");
}
std::string GmSm2Signhash(MainControl& c, const MethodArgs& a) {
    const Bytes e = DecodeParam(a.Text(0), "the digest");
    if (e.size() != 32)
        Fail(kBadParam, "an SM3 digest has 32 bytes");
    auto key = Unlock(c, a.Text(1), true, "Sign a digest (SM2)");
    return Base64Result(Sm2SignDigest(key->key(), e));
}

int32_t Sm2SignInit(MainControl& c, const MethodArgs& a) {
    const CertEntry entry = ChooseSigner(c, a.Text(0));
    RequireSm2(entry.cert.get());
    c.CloseWindow();
    auto key = UnlockKey(c, entry, "Sign several times (SM2) until the page finishes");
    const auto seconds = std::chrono::seconds(c.config.pinBatchSeconds);
    c.signWindow = KeyWindow{entry.der, std::move(key), std::chrono::steady_clock::now() + seconds};
    return kOk;
}

int32_t Sm2SignFinal(MainControl& c, const MethodArgs&) {
    if (!c.signWindow)
        Fail(kState, "no SM2 signing was begun (SM2SignInit)");
    c.CloseWindow();
    return kOk;
}

constexpr MethodRow kRows[] = {
    TextRow(10, "BB", Sign),          TextRow(25, "BBB", SignEx),
    TextRow(128, "BIB", Signhash),    TextRow(64, "BB", SignSeal),
    TextRow(8, "BB", AttachSign),     TextRow(23, "BBB", AttachSignEx),
    TextRow(6, "BB", DetachSign),     TextRow(21, "BBB", DetachSignEx),
    TextRow(49, "BB", Sm2Sign),       TextRow(50, "BBB", Sm2SignEx),
    TextRow(14, "B", Sm2SignEx2),     TextRow(27, "BB", Sm2SignEx3),
    NumberRow(42, "B", Sm2SignInit),  NumberRow(43, "", Sm2SignFinal),
    TextRow(76, "BB", Sm2AttachSign), TextRow(74, "BB", Sm2DetachSign),
    TextRow(96, "BB", GmSm2Sign),     TextRow(100, "BB", GmSm2Signhash),
};

}  // namespace

MethodFamily SigningMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
