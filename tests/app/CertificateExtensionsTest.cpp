#include <gtest/gtest.h>

#include <vector>

#include "app/CertificateExtensions.h"

namespace {

using Bytes = std::vector<unsigned char>;

TEST(CertificateExtensions, SubjectAltNameIsLoopbackIpThenLocalhost) {
    const Bytes expected = {
        0x30, 0x11,                                               // SEQUENCE
        0x87, 0x04, 127, 0,   0,   1,                             // [7] iPAddress
        0x82, 0x09, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't',  // [2] dNSName
    };
    EXPECT_EQ(zqt::LoopbackSubjectAltNameDer(), expected);
}

TEST(CertificateExtensions, ExtendedKeyUsageIsServerAuth) {
    const Bytes expected = {
        0x30, 0x0A,                                                  // SEQUENCE
        0x06, 0x08, 0x2B, 0x06, 0x01, 0x05, 0x05, 0x07, 0x03, 0x01,  // 1.3.6.1.5.5.7.3.1
    };
    EXPECT_EQ(zqt::ServerAuthExtendedKeyUsageDer(), expected);
}

}  // namespace
