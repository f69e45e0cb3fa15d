#include "enrol/SealInstall.h"

#include "core/Outcome.h"
#include "core/Text.h"
#include "enrol/EnrolControl.h"
#include "enrol/EnrolPrompts.h"
#include "inventory/CertFacts.h"
#include "seals/SealStore.h"

namespace ref {

namespace {

std::string PictureFormat(const Bytes& data) {
    const std::string head = AsString(ByteView(data.data(), std::min<size_t>(data.size(), 8)));
    if (head.rfind("\x89PNG", 0) == 0)
        return "png";
    if (head.rfind("GIF8", 0) == 0)
        return "gif";
    if (head.rfind("BM", 0) == 0)
        return "bmp";
    return "";
}

SealRecord RecordOf(const std::string& text, X509* cert) {
    const std::string_view trimmed = TrimBlanks(text);
    if (!trimmed.empty() && trimmed.front() == '{')
        return ParseSealRecord(trimmed);
    const auto data = Base64Decode(trimmed);
    if (!data || data->empty())
        Fail(kMalformed, "the seal is neither a record (JSON) nor a Base64 picture");
    SealRecord record;
    record.name = CommonName(cert).empty() ? SerialText(cert) : CommonName(cert);
    record.type = 1;
    record.format = PictureFormat(*data);
    record.data = *data;
    return record;
}

}  // namespace

void InstallSeal(EnrolControl& control, const std::string& record, const std::string& certSel) {
    if (TrimBlanks(certSel).empty())
        Fail(kBadParam, "no certificate given for the seal");
    if (TrimBlanks(record).empty())
        Fail(kBadParam, "no seal given");
    const StoreFilter all;
    const CertEntry entry = control.inventory.ResolveSigner(all, Criteria{}, certSel);
    SealRecord seal = RecordOf(record, entry.cert.get());
    const std::string operation = "write the seal \"" + seal.name + "\" bound to " +
                                  NameText(X509_get_subject_name(entry.cert.get()));
    WriteSeal(control.tokens, control.config.sealDir, entry, std::move(seal),
              [&](TokenSession& session) { LoginForEnrolment(control, session, operation); });
}

}  // namespace ref
