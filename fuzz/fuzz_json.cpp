// The JSON view of a body: parse, the first element of a name, get_string.
// Checked against nlohmann's own acceptance of the same (repaired) text, and
// against the elements list for the first-of-a-name rule.

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "net/json.h"
#include "support/TextConversion.h"

namespace {

void CheckFirstOfName(const net::json& doc, const std::string& tag) {
    // A name is asked for by its C text, so a NUL ends it.
    const std::string asked = tag.c_str();
    const net::json_node* first = doc.getFirstElementByTagName(asked.c_str());
    const net::json_node* expected = nullptr;
    for (const net::json_node& node : doc.elements()) {
        if (node.tag() == asked) {
            expected = &node;
            break;
        }
    }
    FUZZ_CHECK(first == expected);
    if (first == nullptr) {
        return;
    }
    // Only a string gives text.
    FUZZ_CHECK(first->type() == net::json_node::kind::string || first->text().empty());
    FUZZ_CHECK(std::string_view(first->get_string()) == std::string_view(first->text().c_str()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::unique_ptr<net::json> doc = net::json::parse(text);
    const std::string clean = zqt::SanitizeUtf8(text);
    FUZZ_CHECK((doc != nullptr) == nlohmann::json::accept(clean));
    if (!doc) {
        return 0;
    }
    for (const net::json_node& node : doc->elements()) {
        // Names and texts come out as well-formed UTF-8.
        FUZZ_CHECK(zqt::SanitizeUtf8(node.tag()) == node.tag());
        FUZZ_CHECK(zqt::SanitizeUtf8(node.text()) == node.text());
        CheckFirstOfName(*doc, node.tag());
    }
    CheckFirstOfName(*doc, "ServeltData");
    FUZZ_CHECK(doc->getFirstElementByTagName(nullptr) == nullptr);
    return 0;
}
