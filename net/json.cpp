#include "net/json.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "support/TextConversion.h"

namespace net {

// Collects the named elements from the parser's event stream, which comes
// in document order; the event after a key is the start of its value.
class json_builder {
  public:
    using doc = nlohmann::json;

    explicit json_builder(json& target) : target_(target) {}

    bool null() { return value(json_node::kind::null); }
    bool boolean(bool) { return value(json_node::kind::boolean); }
    bool number_integer(doc::number_integer_t) { return value(json_node::kind::number); }
    bool number_unsigned(doc::number_unsigned_t) { return value(json_node::kind::number); }
    bool number_float(doc::number_float_t, const doc::string_t&) {
        return value(json_node::kind::number);
    }
    bool string(doc::string_t& text) {
        if (pending_ != kNone) {
            target_.elements_[pending_].text_ = std::move(text);
        }
        return value(json_node::kind::string);
    }
    bool binary(doc::binary_t&) { return false; }  // never in JSON text
    bool start_object(std::size_t) { return value(json_node::kind::object); }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return value(json_node::kind::array); }
    bool end_array() { return true; }
    bool key(doc::string_t& name) {
        pending_ = target_.elements_.size();
        target_.elements_.emplace_back(std::move(name), json_node::kind::null);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        return false;
    }

  private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    bool value(json_node::kind type) {
        if (pending_ != kNone) {
            target_.elements_[pending_].type_ = type;
            pending_ = kNone;
        }
        return true;
    }

    json& target_;
    std::size_t pending_ = kNone;
};

namespace {

// Plain ASCII is valid UTF-8 as it stands, so it needs no cleaning copy.
bool is_ascii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<json> json::parse(std::string_view text) {
    std::unique_ptr<json> document(new json());
    try {
        std::string clean;
        std::string_view input = text;
        if (!is_ascii(text)) {
            clean = zqt::SanitizeUtf8(text);
            input = clean;
        }
        json_builder builder(*document);
        if (!nlohmann::json::sax_parse(input, &builder, nlohmann::json::input_format_t::json,
                                       true)) {
            return nullptr;
        }
    } catch (const std::exception&) {
        return nullptr;
    }
    return document;
}

const json_node* json::getFirstElementByTagName(const char* tag) const {
    if (tag == nullptr) {
        return nullptr;
    }
    for (const json_node& node : elements_) {
        if (node.tag() == tag) {
            return &node;
        }
    }
    return nullptr;
}

}  // namespace net
