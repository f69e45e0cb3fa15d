// The record's JSON form: what is written reads back, what is not a record
// is refused.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/Outcome.h"
#include "seals/SealLimits.h"
#include "seals/SealStore.h"

namespace {

using ref::SealRecord;

TEST(SealRecordTest, RoundTripsOddNamesAndEveryField) {
    const SealRecord records[] = {
        {"Finance seal", 1, "png", "447DD035", {0x89, 'P', 'N', 'G'}},
        {"quote \" and \\ backslash", 2, "der", "", {0x30, 0x03, 0x02, 0x01, 0x00}},
        {"line\nbreak\ttab", 7, "", "01", {0x00}},
        {"\xe5\x8d\xb0\xe7\xab\xa0 ../../etc/passwd", 1, "bmp", "ABCDEF", {'B', 'M'}},
    };
    for (const SealRecord& record : records) {
        SCOPED_TRACE(record.name);
        const std::string json = ref::SealRecordJson(record, true);
        EXPECT_EQ(json.rfind("{\"v\":1,\"name\":", 0), 0u) << json;
        EXPECT_EQ(json.find('\n'), std::string::npos) << "compact";
        const SealRecord back = ref::ParseSealRecord(json);
        EXPECT_EQ(back.name, record.name);
        EXPECT_EQ(back.type, record.type);
        EXPECT_EQ(back.format, record.format);
        EXPECT_EQ(back.certSn, record.certSn);
        EXPECT_EQ(back.data, record.data);
    }
}

TEST(SealRecordTest, MetadataLeavesTheDataOut) {
    const SealRecord record{"n", 1, "png", "01", {1, 2, 3}};
    const nlohmann::json json = nlohmann::json::parse(ref::SealRecordJson(record, false));
    EXPECT_FALSE(json.contains("data"));
    EXPECT_EQ(json["name"], "n");
    EXPECT_EQ(json["type"], 1);
    EXPECT_EQ(json["certSn"], "01");
}

TEST(SealRecordTest, NonAsciiIsWrittenAsUtf8) {
    const SealRecord record{"\xe5\x8d\xb0", 1, "", "", {1}};
    EXPECT_NE(ref::SealRecordJson(record, true).find("\xe5\x8d\xb0"), std::string::npos);
}

TEST(SealRecordTest, RefusesWhatIsNotARecord) {
    const std::string cases[] = {
        "",
        "not json",
        "[1,2]",
        R"({"name":"n","type":1})",                       // no version
        R"({"v":2,"name":"n","type":1})",                 // unknown version
        R"({"v":1,"type":1,"data":""})",                  // no name
        R"({"v":1,"name":"","type":1})",                  // empty name
        R"({"v":1,"name":"n"})",                          // no type
        R"({"v":1,"name":"n","type":"1"})",               // type as text
        R"({"v":1,"name":"n","type":4294967296})",        // type out of range
        R"({"v":1,"name":7,"type":1})",                   // name not text
        R"({"v":1,"name":"n","type":1,"data":"@@@"})",    // data not Base64
        R"({"v":1,"name":"n","type":1,"certSn":["x"]})",  // certSn not text
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        try {
            ref::ParseSealRecord(text);
            ADD_FAILURE() << "accepted";
        } catch (const ref::Failure& failure) {
            EXPECT_EQ(failure.code(), ref::kMalformed);
        }
    }
}

TEST(SealRecordTest, RefusesAbsurdSizesBeforeParsing) {
    std::string huge = R"({"v":1,"name":"n","type":1,"data":")";
    huge.append(ref::kMaxRecordJson, 'A');
    huge += "\"}";
    EXPECT_THROW(ref::ParseSealRecord(huge), ref::Failure);
}

}  // namespace
