// Methods of the seal and licence-data family. Reads of seals never log in;
// writes go where the selected certificate lies, after the user's PIN.
#include <nlohmann/json.hpp>

#include "control/MethodTable.h"
#include "core/Outcome.h"
#include "core/Text.h"
#include "methods/MethodSupport.h"
#include "methods/SealSupport.h"
#include "seals/Licence.h"
#include "seals/SealPicture.h"

namespace ref {

namespace {

constexpr int32_t kPictureType = 1;
constexpr int32_t kGmSealType = 2;  // GB/T 38540 seal data

std::string TokenSel(const MethodArgs& a) {
    return std::string(TrimBlanks(a.Text(0)));
}

// The first record of that type, or nullptr.
const StoredSeal* FirstOfType(const std::vector<StoredSeal>& seals, int32_t type) {
    for (const StoredSeal& seal : seals) {
        if (seal.record.type == type)
            return &seal;
    }
    return nullptr;
}

std::string LoadSealFromKey(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 1);
    return Base64Result(PickSeal(TokenSealsOf(c, TokenSel(a)), name).record.data);
}

std::string ReadSealData(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 0);
    return Base64Result(PickSeal(AllSeals(c), name).record.data);
}

std::string GetSealIndata(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 0);
    return SealRecordJson(PickSeal(AllSeals(c), name).record, false);
}

std::string ReadSealByType(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 0);
    return Base64Result(PickSeal(AllSeals(c), name, a.I4(1)).record.data);
}

std::string GetSealInfos(MainControl& c, const MethodArgs& a) {
    const std::string sel = TokenSel(a);
    const std::vector<StoredSeal> seals = sel.empty() ? AllSeals(c) : TokenSealsOf(c, sel);
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const StoredSeal& seal : seals) {
        nlohmann::ordered_json item =
            nlohmann::ordered_json::parse(SealRecordJson(seal.record, false));
        item["store"] = seal.store;
        if (seal.store == "pkcs11")
            item["token"] = {{"label", seal.token.label}, {"serial", seal.token.serial}};
        item["size"] = seal.record.data.size();
        list.push_back(std::move(item));
    }
    return list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string GetGMSealPicBase64FromDev(MainControl& c, const MethodArgs& a) {
    const std::vector<StoredSeal> seals = TokenSealsOf(c, TokenSel(a));
    if (const StoredSeal* gm = FirstOfType(seals, kGmSealType)) {
        Fail(kUnsupported, "the picture of the GB/T 38540 seal \"" + gm->record.name +
                               "\" cannot be extracted: no SES_Seal parser is available");
    }
    if (const StoredSeal* picture = FirstOfType(seals, kPictureType))
        return Base64Result(picture->record.data);
    Fail(kNotFound, "no seal on the token");
}

std::string ZQTReadGMSealData(MainControl& c, const MethodArgs& a) {
    const std::vector<StoredSeal> seals = TokenSealsOf(c, TokenSel(a));
    if (const StoredSeal* gm = FirstOfType(seals, kGmSealType))
        return Base64Result(gm->record.data);
    Fail(kNotFound, "no GB/T 38540 seal on the token");
}

std::string ReadSealPicByCertSN(MainControl& c, const MethodArgs& a) {
    const std::optional<std::string> wanted = NormalizeSerial(TrimBlanks(a.Text(0)));
    if (!wanted || TrimBlanks(a.Text(0)).empty())
        Fail(kBadParam, "a serial number is hexadecimal");
    const StoredSeal* other = nullptr;
    for (const StoredSeal& seal : AllSeals(c)) {
        if (NormalizeSerial(seal.record.certSn) != wanted)
            continue;
        if (seal.record.type == kPictureType)
            return Base64Result(seal.record.data);
        if (other == nullptr)
            other = &seal;
    }
    if (other != nullptr)
        Fail(kUnsupported, "the seal bound to that certificate holds no picture that can be read");
    Fail(kNotFound, "no seal is bound to a certificate with that serial number");
}

std::string GetBmpFromSealData(MainControl&, const MethodArgs& a) {
    return Base64Result(BmpPicture(DecodeParam(a.Text(0), "seal data"), a.UI4(1)));
}

int32_t Write(MainControl& c, std::string name, Bytes data, int32_t type) {
    const CertEntry owner = SealOwner(c);
    SealRecord record;
    record.name = std::move(name);
    record.type = type;
    record.format = SniffFormat(data);
    record.data = std::move(data);
    const TokenLogin login = PromptingLogin(c, owner, "Write seal " + record.name);
    WriteSeal(c.tokens, c.config.sealDir, owner, std::move(record), login);
    return kOk;
}

int32_t WriteSealData(MainControl& c, const MethodArgs& a) {
    return Write(c, NameParam(a, 0), DataParam(a, 1), kPictureType);
}

int32_t WriteSealByType(MainControl& c, const MethodArgs& a) {
    if (a.I4(2) < 1)
        Fail(kBadParam, "seal types are whole numbers from 1");
    return Write(c, NameParam(a, 0), DataParam(a, 1), a.I4(2));
}

int32_t WriteLicenceData(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 0);
    const Bytes data = DataParam(a, 1);
    const CertEntry owner = SealOwner(c);
    WriteLicence(c.tokens, c.config.licenceDir, owner, name, data,
                 PromptingLogin(c, owner, "Write licence data " + name));
    return kOk;
}

std::string ReadLicenceData(MainControl& c, const MethodArgs& a) {
    const std::string name = NameParam(a, 0);
    const CertEntry owner = SealOwner(c);
    return Base64Result(ReadLicence(c.tokens, c.config.licenceDir, owner, name,
                                    PromptingLogin(c, owner, "Read licence data " + name)));
}

constexpr MethodRow kRows[] = {
    // Seals, licence data.
    TextRow(33, "BU", GetBmpFromSealData),
    TextRow(34, "BB", LoadSealFromKey),
    TextRow(98, "B", GetGMSealPicBase64FromDev),
    TextRow(104, "B", ReadSealPicByCertSN),
    TextRow(121, "B", ZQTReadGMSealData),
    TextRow(148, "B", GetSealIndata),
    TextRow(149, "B", ReadSealData),
    NumberRow(150, "BB", WriteSealData),
    TextRow(151, "B", ReadSealData),
    NumberRow(152, "BB", WriteLicenceData),
    TextRow(153, "B", ReadLicenceData),
    NumberRow(189, "BBI", WriteSealByType),
    TextRow(190, "BI", ReadSealByType),
    TextRow(199, "B", GetSealInfos),
};

}  // namespace

MethodFamily SealMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
