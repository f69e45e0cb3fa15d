#include "store/PfxPeek.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <vector>

#include "core/Ossl.h"

namespace ref {
namespace {

void FreeP7Stack(STACK_OF(PKCS7) * stack) {
    sk_PKCS7_pop_free(stack, PKCS7_free);
}
void FreeBagStack(STACK_OF(PKCS12_SAFEBAG) * stack) {
    sk_PKCS12_SAFEBAG_pop_free(stack, PKCS12_SAFEBAG_free);
}
using P7StackPtr = std::unique_ptr<STACK_OF(PKCS7), OsslDeleter<STACK_OF(PKCS7), FreeP7Stack>>;
using BagStackPtr =
    std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), OsslDeleter<STACK_OF(PKCS12_SAFEBAG), FreeBagStack>>;

struct VisibleCert {
    X509Ptr cert;
    Bytes localKeyId;
};

Bytes LocalKeyId(const PKCS12_SAFEBAG* bag) {
    const ASN1_TYPE* attr = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (attr == nullptr || attr->type != V_ASN1_OCTET_STRING) {
        return {};
    }
    const ASN1_OCTET_STRING* value = attr->value.octet_string;
    return Bytes(value->data, value->data + value->length);
}

// Certificates and key ids from the safe contents that are not encrypted.
void CollectBags(PKCS12* p12, std::vector<VisibleCert>& certs, std::vector<Bytes>& keyIds) {
    P7StackPtr safes(PKCS12_unpack_authsafes(p12));
    if (!safes) {
        return;
    }
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        if (OBJ_obj2nid(p7->type) != NID_pkcs7_data) {
            continue;  // encrypted data needs the password
        }
        BagStackPtr bags(PKCS12_unpack_p7data(p7));
        if (!bags) {
            continue;
        }
        for (int j = 0; j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
            const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
            const int nid = PKCS12_SAFEBAG_get_nid(bag);
            if (nid == NID_keyBag || nid == NID_pkcs8ShroudedKeyBag) {
                keyIds.push_back(LocalKeyId(bag));
            } else if (nid == NID_certBag &&
                       PKCS12_SAFEBAG_get_bag_nid(bag) == NID_x509Certificate) {
                X509Ptr cert(PKCS12_SAFEBAG_get1_cert(bag));
                if (cert) {
                    certs.push_back({std::move(cert), LocalKeyId(bag)});
                }
            }
        }
    }
}

X509* ChooseEndEntity(const std::vector<VisibleCert>& certs, const std::vector<Bytes>& keyIds) {
    if (certs.size() == 1) {
        return certs.front().cert.get();
    }
    for (const Bytes& id : keyIds) {
        for (const VisibleCert& c : certs) {
            if (!id.empty() && c.localKeyId == id) {
                return c.cert.get();
            }
        }
    }
    for (const VisibleCert& c : certs) {
        if (X509_check_ca(c.cert.get()) == 0) {
            return c.cert.get();
        }
    }
    return certs.empty() ? nullptr : certs.front().cert.get();
}

}  // namespace

std::optional<Bytes> PeekCertificate(ByteView pfx) {
    const unsigned char* p = pfx.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size())));
    if (!p12) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::vector<VisibleCert> certs;
    std::vector<Bytes> keyIds;
    CollectBags(p12.get(), certs, keyIds);
    ERR_clear_error();
    X509* chosen = ChooseEndEntity(certs, keyIds);
    if (chosen == nullptr) {
        return std::nullopt;
    }
    Bytes der = CertificateDer(chosen);
    if (der.empty()) {
        return std::nullopt;
    }
    return der;
}

}  // namespace ref
