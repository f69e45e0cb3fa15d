#include "enrol/DeviceInfo.h"

#include <nlohmann/json.hpp>

#include "core/Outcome.h"
#include "enrol/EnrolControl.h"
#include "enrol/PendingKeys.h"
#include "inventory/CertFacts.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

using nlohmann::json;

json CertificateSummary(ByteView der) {
    X509Ptr cert = ParseCertificate(der);
    if (!cert)
        return nullptr;
    return {{"sn", SerialText(cert.get())},
            {"cn", CommonName(cert.get())},
            {"notAfter", TimeText(X509_get0_notAfter(cert.get()))}};
}

json PendingSummary(const std::vector<PendingKey>& keys) {
    json out = json::array();
    for (const PendingKey& key : keys)
        out.push_back({{"id", HexEncode(key.id)}, {"label", key.label}, {"kind", key.kind}});
    return out;
}

json Details(EnrolControl& control, const Device& device, json entry) {
    json certs = json::array();
    if (device.soft) {
        for (const SoftIdentity& identity : control.store.List()) {
            json summary = CertificateSummary(identity.certDer);
            if (!summary.is_null())
                certs.push_back(summary);
        }
        entry["pendingKeys"] = PendingSummary(PendingInFolder(control.PendingDir()));
    } else {
        for (const TokenCertificate& cert : control.tokens.Certificates()) {
            if (cert.token.module != device.token.module ||
                cert.token.serial != device.token.serial || cert.token.label != device.token.label)
                continue;
            json summary = CertificateSummary(cert.der);
            if (!summary.is_null())
                certs.push_back(summary);
        }
        entry["pendingKeys"] = PendingSummary(PendingOnToken(*control.tokens.Open(device.token)));
    }
    entry["certificates"] = certs;
    return entry;
}

json Entry(EnrolControl& control, const Device& device) {
    json keySpecs = json::array();
    for (KeySpec keySpec : DeviceKeySpecs(control.tokens, device))
        keySpecs.push_back(KeySpecName(keySpec));
    const TokenInfo& token = device.token;
    return {{"name", device.name()},
            {"kind", device.soft ? "soft" : "pkcs11"},
            {"module", device.soft ? "" : token.module},
            {"label", device.label()},
            {"serial", device.serial()},
            {"model", device.soft ? "" : token.model},
            {"manufacturer", device.soft ? "" : token.manufacturer},
            {"pinpad", !device.soft && token.pinpad},
            {"loginRequired", device.soft || token.loginRequired},
            {"keySpecs", keySpecs}};
}

}  // namespace

std::string DeviceInfoJson(EnrolControl& control, bool details) {
    json out = json::array();
    for (const Device& device : ListDevices(control.tokens)) {
        try {
            json entry = Entry(control, device);
            out.push_back(details ? Details(control, device, std::move(entry)) : entry);
        } catch (const Failure& failure) {
            if (failure.code() != kNoToken)
                throw;
        }
    }
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace ref
