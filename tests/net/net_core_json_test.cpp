#include <gtest/gtest.h>

#include "net/json.h"

namespace {

struct first_case {
    const char* text;
    const char* tag;
    const char* expected;  // null: no such element
};

class FirstElement : public ::testing::TestWithParam<first_case> {};

TEST_P(FirstElement, IsTheFirstInDocumentOrderAtAnyDepth) {
    const first_case c = GetParam();
    const auto doc = net::json::parse(c.text);
    ASSERT_NE(doc, nullptr) << c.text;
    const net::json_node* node = doc->getFirstElementByTagName(c.tag);
    if (c.expected == nullptr) {
        EXPECT_EQ(node, nullptr) << c.text;
        return;
    }
    ASSERT_NE(node, nullptr) << c.text;
    EXPECT_STREQ(node->get_string(), c.expected) << c.text;
    EXPECT_STREQ(node->tag_name(), c.tag);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, FirstElement,
    ::testing::Values(first_case{R"({"ServeltData":"abc"})", "ServeltData", "abc"},
                      // Key order of the text, not sorted order.
                      first_case{R"({"z":{"k":"deep"},"a":{"k":"late"}})", "k", "deep"},
                      // Depth first: a nested member before a later sibling.
                      first_case{R"({"x":{"y":{"k":"inner"}},"k":"outer"})", "k", "inner"},
                      first_case{R"({"k":"outer","x":{"k":"inner"}})", "k", "outer"},
                      first_case{R"([1,{"a":[{"k":"in array"}]},{"k":"second"}])", "k", "in array"},
                      // A repeated name: the first occurrence.
                      first_case{R"({"k":"first","k":"second"})", "k", "first"},
                      first_case{R"({"K":"upper"})", "k", nullptr},
                      first_case{R"({"other":"v"})", "ServeltData", nullptr},
                      first_case{R"("ServeltData")", "ServeltData", nullptr},
                      first_case{R"(["ServeltData"])", "ServeltData", nullptr},
                      first_case{R"({"a":"ServeltData"})", "ServeltData", nullptr},
                      first_case{R"({"ServeltData":"\u4e2d\u6587 \"q\""})", "ServeltData",
                                 "\xe4\xb8\xad\xe6\x96\x87 \"q\""}));

struct string_case {
    const char* text;
    net::json_node::kind kind;
};

class GetString : public ::testing::TestWithParam<string_case> {};

TEST_P(GetString, IsEmptyForEveryValueButAString) {
    const string_case c = GetParam();
    const auto doc = net::json::parse(c.text);
    ASSERT_NE(doc, nullptr) << c.text;
    const net::json_node* node = doc->getFirstElementByTagName("v");
    ASSERT_NE(node, nullptr) << c.text;
    EXPECT_EQ(node->type(), c.kind) << c.text;
    EXPECT_STREQ(node->get_string(), "") << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Values, GetString,
    ::testing::Values(string_case{R"({"v":12})", net::json_node::kind::number},
                      string_case{R"({"v":-1.5e3})", net::json_node::kind::number},
                      string_case{R"({"v":true})", net::json_node::kind::boolean},
                      string_case{R"({"v":null})", net::json_node::kind::null},
                      string_case{R"({"v":{"s":"x"}})", net::json_node::kind::object},
                      string_case{R"({"v":["x"]})", net::json_node::kind::array},
                      string_case{R"({"v":""})", net::json_node::kind::string}));

TEST(Json, ElementsFollowTheirValuesInDocumentOrder) {
    const auto doc = net::json::parse(R"({"a":{"b":1,"c":[{"d":"x"}]},"e":"y"})");
    ASSERT_NE(doc, nullptr);
    std::vector<std::string> tags;
    for (const net::json_node& node : doc->elements()) {
        tags.push_back(node.tag());
    }
    EXPECT_EQ(tags, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
}

class NotJson : public ::testing::TestWithParam<const char*> {};

TEST_P(NotJson, GivesNoDocument) {
    EXPECT_EQ(net::json::parse(GetParam()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Texts, NotJson,
                         ::testing::Values("", "   ", "{", R"({"a":})", R"({"a":"b"} x)",
                                           R"({'a':'b'})", "ServeltData=abc", R"({"a":"b",})",
                                           "[1,2", R"({"a":"\x"})"));

TEST(Json, InvalidUtf8IsReplacedRatherThanRefused) {
    const std::string text =
        "{\"ServeltData\":\"a\xff"
        "b\xc3(\"}";
    const auto doc = net::json::parse(text);
    ASSERT_NE(doc, nullptr);
    const net::json_node* node = doc->getFirstElementByTagName("ServeltData");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(),
              "a\xef\xbf\xbd"
              "b\xef\xbf\xbd(");
}

TEST(Json, AnEscapedNulEndsTheTextOfGetString) {
    const auto doc = net::json::parse(R"({"v":"ab\u0000cd"})");
    ASSERT_NE(doc, nullptr);
    const net::json_node* node = doc->getFirstElementByTagName("v");
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->get_string(), "ab");
    EXPECT_EQ(node->text().size(), 5u);
}

TEST(Json, DeepNestingDoesNotExhaustTheStack) {
    const size_t depth = 200000;
    const std::string text =
        "{\"a\":" + std::string(depth, '[') + "{\"k\":\"deep\"}" + std::string(depth, ']') + "}";
    const auto doc = net::json::parse(text);
    ASSERT_NE(doc, nullptr);
    const net::json_node* node = doc->getFirstElementByTagName("k");
    ASSERT_NE(node, nullptr);
    EXPECT_STREQ(node->get_string(), "deep");
}

TEST(Json, NullNameFindsNothing) {
    const auto doc = net::json::parse(R"({"a":"b"})");
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->getFirstElementByTagName(nullptr), nullptr);
}

}  // namespace
