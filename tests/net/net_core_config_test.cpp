#include <gtest/gtest.h>
#include <cstring>

#include "net/master_threads.h"

namespace {

class config_only : public net::master_threads {
  protected:
    bool thread_on_read(net::socket_stream*) override { return false; }
};

TEST(ConfigTables, EveryTargetGetsItsDefault) {
    int i = -1;
    long long i64 = -1;
    char* text = nullptr;
    char* empty = nullptr;
    int flag = -1;
    int off = -1;
    const net::master_int_tbl ints[] = {{"int", 120, &i, 0, 0}, {nullptr, 0, nullptr, 0, 0}};
    const net::master_int64_tbl int64s[] = {{"int64", 1LL << 40, &i64, 0, 0},
                                            {nullptr, 0, nullptr, 0, 0}};
    const net::master_str_tbl strs[] = {
        {"str", "test_msg", &text}, {"none", nullptr, &empty}, {nullptr, nullptr, nullptr}};
    const net::master_bool_tbl bools[] = {
        {"bool", 7, &flag}, {"off", 0, &off}, {nullptr, 0, nullptr}};

    config_only server;
    server.set_cfg_int(ints).set_cfg_int64(int64s).set_cfg_str(strs).set_cfg_bool(bools);

    EXPECT_EQ(i, 120);
    EXPECT_EQ(i64, 1LL << 40);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "test_msg");
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(off, 0);
}

TEST(ConfigTables, StringTargetsAreCopiesOwnedByTheServer) {
    char source[] = "ssl_crt.pem";
    char* target = nullptr;
    const net::master_str_tbl strs[] = {{"crt_file", source, &target}, {nullptr, nullptr, nullptr}};
    config_only server;
    server.set_cfg_str(strs);
    ASSERT_NE(target, nullptr);
    EXPECT_NE(target, source);
    std::strcpy(source, "changed.pem");
    EXPECT_STREQ(target, "ssl_crt.pem");
}

TEST(ConfigTables, TheEmptyRowEndsTheTable) {
    int first = 0;
    int after = 42;
    const net::master_int_tbl ints[] = {
        {"a", 5, &first, 0, 0}, {nullptr, 0, nullptr, 0, 0}, {"b", 9, &after, 0, 0}};
    config_only server;
    server.set_cfg_int(ints);
    EXPECT_EQ(first, 5);
    EXPECT_EQ(after, 42);
}

struct bound_case {
    int defval, min, max, expected;
};

class IntBounds : public ::testing::TestWithParam<bound_case> {};

TEST_P(IntBounds, DefaultIsHeldWithinBoundsWhenTheyAreGiven) {
    const bound_case c = GetParam();
    int target = 0;
    const net::master_int_tbl ints[] = {{"v", c.defval, &target, c.min, c.max},
                                        {nullptr, 0, nullptr, 0, 0}};
    config_only server;
    server.set_cfg_int(ints);
    EXPECT_EQ(target, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, IntBounds,
                         ::testing::Values(bound_case{120, 0, 0, 120}, bound_case{5, 10, 20, 10},
                                           bound_case{50, 10, 20, 20}, bound_case{15, 10, 20, 15},
                                           bound_case{-3, 0, 0, -3}));

TEST(ConfigTables, NullTablesAreIgnored) {
    config_only server;
    server.set_cfg_int(nullptr).set_cfg_int64(nullptr).set_cfg_str(nullptr).set_cfg_bool(nullptr);
    SUCCEED();
}

}  // namespace
