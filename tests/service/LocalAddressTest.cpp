#include <gtest/gtest.h>

#include "service/master_services.h"

namespace {

struct PortCase {
    const char* local;
    int port;
};

class LocalAddressPort : public testing::TestWithParam<PortCase> {};

TEST_P(LocalAddressPort, IsTheNumberAfterTheLastBar) {
    EXPECT_EQ(PortOfLocalAddress(GetParam().local), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocalAddressPort,
                         testing::Values(PortCase{"127.0.0.1|9652", 9652},
                                         PortCase{"127.0.0.1|9651", 9651},
                                         PortCase{"a|b|9652", 9652}, PortCase{"127.0.0.1:9652", 0},
                                         PortCase{"", 0}, PortCase{nullptr, 0},
                                         PortCase{"127.0.0.1|", 0},
                                         PortCase{"127.0.0.1| 9652x", 9652}));

}  // namespace
