#pragma once
// A parsed JSON document, seen as its named elements (object members) in
// document order: depth first, each member before what its value holds.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace net {

class json_node {
  public:
    enum class kind { null, boolean, number, string, object, array };

    json_node(std::string tag, kind type) : tag_(std::move(tag)), type_(type) {}

    const char* tag_name() const { return tag_.c_str(); }
    const std::string& tag() const { return tag_; }
    kind type() const { return type_; }
    // The text of a string value; the empty text for any other value.
    const char* get_string() const { return text_.c_str(); }
    const std::string& text() const { return text_; }

  private:
    friend class json_builder;
    std::string tag_;
    kind type_;
    std::string text_;
};

class json {
  public:
    // The whole text must be one JSON value. Invalid UTF-8 is replaced by
    // U+FFFD first, so it never makes a text unreadable. Null when the text is
    // not JSON.
    static std::unique_ptr<json> parse(std::string_view text);

    // The first element of that name in document order, at any depth; null
    // when there is none.
    const json_node* getFirstElementByTagName(const char* tag) const;

    const std::vector<json_node>& elements() const { return elements_; }

  private:
    friend class json_builder;
    json() = default;
    std::vector<json_node> elements_;
};

}  // namespace net
