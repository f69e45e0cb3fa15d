// The seal record's JSON form, read and written.
#include <limits>
#include <nlohmann/json.hpp>

#include "core/Outcome.h"
#include "seals/SealLimits.h"
#include "seals/SealStore.h"

namespace ref {

namespace {

[[noreturn]] void NotARecord(const std::string& why) {
    Fail(kMalformed, "not a seal record: " + why);
}

std::string OptionalText(const nlohmann::json& record, const char* key) {
    const auto it = record.find(key);
    if (it == record.end() || it->is_null())
        return {};
    if (!it->is_string())
        NotARecord(std::string("\"") + key + "\" is not a text");
    return it->get<std::string>();
}

int32_t RecordType(const nlohmann::json& record) {
    const auto it = record.find("type");
    if (it == record.end() || !it->is_number_integer())
        NotARecord("\"type\" is missing or not a whole number");
    const int64_t type = it->get<int64_t>();
    if (type < std::numeric_limits<int32_t>::min() || type > std::numeric_limits<int32_t>::max())
        NotARecord("\"type\" is out of range");
    return static_cast<int32_t>(type);
}

}  // namespace

std::string SealRecordJson(const SealRecord& record, bool withData) {
    // ordered_json keeps the fields in the order readers expect to see them.
    nlohmann::ordered_json json = {
        {"v", 1},
        {"name", record.name},
        {"type", record.type},
        {"format", record.format},
        {"certSn", record.certSn},
    };
    if (withData)
        json["data"] = Base64Encode(record.data);
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

SealRecord ParseSealRecord(std::string_view text) {
    if (text.size() > kMaxRecordJson)
        NotARecord("larger than any seal");
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object())
        NotARecord("not a JSON object");
    const auto version = json.find("v");
    if (version == json.end() || !version->is_number_integer() || version->get<int64_t>() != 1)
        NotARecord("unknown version");
    SealRecord record;
    record.name = OptionalText(json, "name");
    if (record.name.empty())
        NotARecord("no name");
    record.type = RecordType(json);
    record.format = OptionalText(json, "format");
    record.certSn = OptionalText(json, "certSn");
    const std::optional<Bytes> data = Base64Decode(OptionalText(json, "data"));
    if (!data)
        NotARecord("\"data\" is not Base64");
    record.data = std::move(*data);
    return record;
}

}  // namespace ref
