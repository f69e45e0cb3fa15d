#include "methods/SealSupport.h"

#include "control/KeyAccess.h"
#include "core/Outcome.h"
#include "pin/PinEntry.h"
#include "pkcs11/TokenSession.h"
#include "seals/SealLimits.h"
#include "seals/TokenSeals.h"

namespace ref {

namespace {

bool TokenMatches(const TokenInfo& token, const std::string& sel) {
    return sel.empty() || token.serial == sel || token.label == sel;
}

Secret AskTokenPin(MainControl& control, const CertEntry& owner, const std::string& operation) {
    PinRequest request;
    request.title = "Signing service";
    request.description = PromptDescription(control.caller, owner, operation);
    request.prompt = "PIN:";
    PinAnswer answer = AskPin({control.config.pinentry, control.config.pinTimeoutSeconds}, request);
    switch (answer.status) {
        case PinStatus::kOk:
            return std::move(answer.pin);
        case PinStatus::kCancelled:
            Fail(kCancelled, "PIN entry cancelled or timed out");
        case PinStatus::kUnavailable:
            break;
    }
    Fail(kCancelled, "no usable PIN entry" + (answer.detail.empty() ? "" : ": " + answer.detail));
}

}  // namespace

std::string NameParam(const MethodArgs& args, uint32_t index) {
    std::string name = args.Text(index);
    if (name.empty())
        Fail(kBadParam, "no name given");
    return name;
}

Bytes DataParam(const MethodArgs& args, uint32_t index) {
    const std::string text = args.Text(index);
    if (text.empty())
        Fail(kBadParam, "no data given");
    // Checked before decoding, so an absurd parameter costs no second copy.
    if (text.size() > kMaxSealData / 3 * 4 + 4096)
        Fail(kBadParam, "the data is larger than 8 MiB");
    std::optional<Bytes> data = Base64Decode(text);
    if (!data)
        Fail(kMalformed, "the data is not Base64");
    if (data->empty())
        Fail(kBadParam, "no data given");
    if (data->size() > kMaxSealData)
        Fail(kBadParam, "the data is larger than 8 MiB");
    return std::move(*data);
}

std::vector<StoredSeal> TokenSealsOf(MainControl& control, const std::string& tokenSel) {
    std::vector<StoredSeal> seals;
    bool present = false;
    for (const TokenInfo& token : control.tokens.Tokens()) {
        if (!TokenMatches(token, tokenSel))
            continue;
        present = true;
        std::unique_ptr<TokenSession> session = control.tokens.Open(token);
        for (StoredSeal& seal : TokenSeals(*session)) seals.push_back(std::move(seal));
    }
    if (!present) {
        Fail(kNoToken,
             tokenSel.empty() ? "no token is present" : "no token \"" + tokenSel + "\" is present");
    }
    return seals;
}

std::vector<StoredSeal> AllSeals(MainControl& control) {
    return ListSeals(control.tokens, control.config.sealDir);
}

const StoredSeal& PickSeal(const std::vector<StoredSeal>& seals, const std::string& name,
                           std::optional<int32_t> type) {
    const StoredSeal* found = nullptr;
    for (const StoredSeal& seal : seals) {
        if (seal.record.name != name || (type && seal.record.type != *type))
            continue;
        if (seal.record.type == 1 || type)
            return seal;
        if (found == nullptr)
            found = &seal;
    }
    if (found == nullptr) {
        Fail(kNotFound, "no seal named \"" + name + "\"" +
                            (type ? " of type " + std::to_string(*type) : std::string()));
    }
    return *found;
}

CertEntry SealOwner(MainControl& control) {
    return control.inventory.ResolveSigner(control.filter, control.criteria, "");
}

TokenLogin PromptingLogin(MainControl& control, const CertEntry& owner,
                          const std::string& operation) {
    return [&control, owner, operation](TokenSession& session) {
        if (owner.token.pinpad) {
            session.Login(nullptr);
            return;
        }
        const Secret pin = AskTokenPin(control, owner, operation);
        session.Login(&pin);
    };
}

}  // namespace ref
