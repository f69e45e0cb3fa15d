// Methods that choose certificates and algorithms, describe certificates,
// report the last error, and take PKCS#12 files into the software store.
#include "core/Outcome.h"
#include "core/Text.h"
#include "inventory/CertificateInfo.h"
#include "methods/MethodSupport.h"
#include "pin/CallerText.h"
#include "pin/PinEntry.h"

namespace ref {

namespace {

int32_t SetCertChooseType(MainControl& c, const MethodArgs& a) {
    StoreFilter filter;
    if (!ParseStoreFilter(a.I4(0), filter)) {
        Fail(kBadParam, "the store type is 0, 1 or 2, plus 16 for expired certificates");
    }
    c.filter = filter;
    return kOk;
}

int32_t ChooseByCriteria(MainControl& c, Criteria criteria) {
    std::string message;
    if (CheckCriteria(criteria, message) != kOk)
        Fail(kBadParam, message);
    c.criteria = std::move(criteria);
    if (c.inventory.Match(c.filter, c.criteria).empty()) {
        Fail(kNotFound, "no certificate with a private key matches");
    }
    return kOk;
}

int32_t SetCert(MainControl& c, const MethodArgs& a) {
    return ChooseByCriteria(
        c, {a.Text(0), a.Text(1), a.Text(2), a.Text(3), a.Text(4), a.Text(5), std::string()});
}

int32_t SetCertEx(MainControl& c, const MethodArgs& a) {
    return ChooseByCriteria(
        c, {a.Text(0), a.Text(1), a.Text(2), a.Text(3), a.Text(4), a.Text(5), a.Text(6)});
}

std::string GetCertInfo(MainControl& c, const MethodArgs& a) {
    const std::string sel(TrimBlanks(a.Text(1)));
    CertEntry entry;
    if (LooksLikeCertificate(sel)) {
        const X509Shared cert = c.inventory.ResolveCertificate(c.filter, c.criteria, sel);
        entry.cert = cert;
        entry.der = CertificateDer(cert.get());
    } else {
        entry = ChooseSigner(c, sel);
    }
    std::string item = CertificateInfoItem(entry, a.I4(0));
    if (item.empty())
        Fail(kNotFound, "the certificate has no such information");
    return item;
}

// "" keeps the current choice of either part.
int32_t SetAlgorithm(MainControl& c, const MethodArgs& a) {
    const std::string hashName(TrimBlanks(a.Text(0)));
    std::string cipherText = AsciiUpper(TrimBlanks(a.Text(1)));
    std::optional<Hash> hash = c.hash;
    if (!hashName.empty()) {
        hash = ParseHash(hashName);
        if (!hash)
            Fail(kBadParam, "unknown hash \"" + hashName + "\"");
    }
    bool oaep = c.oaep;
    std::string cipher = c.cipher;
    if (!cipherText.empty()) {
        oaep = false;
        const size_t comma = cipherText.find(',');
        if (comma != std::string::npos) {
            if (TrimBlanks(std::string_view(cipherText).substr(comma + 1)) != "OAEP") {
                Fail(kBadParam, "the only cipher option is OAEP");
            }
            oaep = true;
            cipherText = std::string(TrimBlanks(std::string_view(cipherText).substr(0, comma)));
        }
        static constexpr std::string_view kCiphers[] = {"AES-128-CBC", "AES-256-CBC",
                                                        "DES-EDE3-CBC", "SM4-CBC"};
        bool known = cipherText.empty();
        for (std::string_view name : kCiphers) known = known || cipherText == name;
        if (!known)
            Fail(kBadParam, "unknown cipher \"" + cipherText + "\"");
        if (!cipherText.empty())
            cipher = cipherText;
    }
    c.hash = *hash;
    c.cipher = cipher;
    c.oaep = oaep;
    return kOk;
}

int32_t GetErrorCode(MainControl& c, const MethodArgs&) {
    return c.lastCode;
}

std::string GetErrorMessage(MainControl& c, const MethodArgs&) {
    return c.lastMessage;
}

int32_t CheckPfxCertInIE(MainControl& c, const MethodArgs& a) {
    const StoreFilter softOnly{false, true, true};
    c.inventory.ResolveSigner(softOnly, c.criteria, TrimBlanks(a.Text(0)));
    return kOk;
}

std::string DescribeForConfirm(const std::string& caller, X509* cert) {
    const auto name = [](const X509_NAME* n) {
        BioPtr bio(BIO_new(BIO_s_mem()));
        X509_NAME_print_ex(bio.get(), n, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
        return AsString(BioBytes(bio.get()));
    };
    return Asker(caller) +
           " asks to add a certificate with its private key to your software "
           "store.\n\nSubject: " +
           name(X509_get_subject_name(cert)) + "\nIssuer: " + name(X509_get_issuer_name(cert));
}

int32_t PfxCertDownLoad(MainControl& c, const MethodArgs& a) {
    const auto pfx = Base64Decode(a.Text(0));
    if (!pfx || pfx->empty())
        Fail(kMalformed, "the PKCS#12 data is not Base64");
    const Secret password = a.SecretText(1);
    OpenedPfx opened = ParsePfx(*pfx, password);
    const PinEntrySettings settings{c.config.pinentry, c.config.pinTimeoutSeconds};
    const PinAnswer answer =
        AskConfirm(settings, "Signing service", DescribeForConfirm(c.caller, opened.cert.get()));
    if (answer.status == PinStatus::kCancelled)
        Fail(kCancelled, "the user declined");
    if (answer.status != PinStatus::kOk) {
        Fail(kCancelled, "no usable confirmation prompt: " + answer.detail);
    }
    c.store.Write(opened.key.get(), opened.cert.get(), opened.chain.get(), password);
    return kOk;
}

constexpr MethodRow kRows[] = {
    {1, "I", nullptr, SetCertChooseType, false, false},
    {2, "BBBBBBB", nullptr, SetCertEx, false, false},
    {3, "IB", GetCertInfo, nullptr, true, false},
    {4, "BB", nullptr, SetAlgorithm, false, false},
    {5, "BBBBBB", nullptr, SetCert, false, false},
    {31, "", nullptr, GetErrorCode, false, true},
    {32, "", GetErrorMessage, nullptr, true, true},
    {36, "B", nullptr, CheckPfxCertInIE, false, false},
    {37, "BB", nullptr, PfxCertDownLoad, false, false},
};

}  // namespace

MethodFamily CertificateMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
