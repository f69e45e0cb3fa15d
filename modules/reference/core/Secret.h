#pragma once
// A PIN or password: kept only as long as one operation needs it and wiped
// when it goes away. Never logged, never copied implicitly.

#include <openssl/crypto.h>

#include <string>
#include <string_view>
#include <utility>

namespace ref {

class Secret {
  public:
    Secret() = default;
    explicit Secret(std::string value) : value_(std::move(value)) {}
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    Secret(Secret&& other) noexcept : value_(std::move(other.value_)) { other.Wipe(); }
    Secret& operator=(Secret&& other) noexcept {
        if (this != &other) {
            Wipe();
            value_ = std::move(other.value_);
            other.Wipe();
        }
        return *this;
    }
    ~Secret() { Wipe(); }

    std::string_view view() const noexcept { return value_; }
    const char* c_str() const noexcept { return value_.c_str(); }
    size_t size() const noexcept { return value_.size(); }
    bool empty() const noexcept { return value_.empty(); }

    // Appends one character; used while unescaping what pinentry sent.
    void push_back(char c) { value_.push_back(c); }

    void Wipe() noexcept {
        if (!value_.empty()) {
            OPENSSL_cleanse(value_.data(), value_.size());
        }
        // Wipe the whole buffer, including what a shorter value left behind.
        if (value_.capacity() > 0) {
            value_.resize(value_.capacity());
            OPENSSL_cleanse(value_.data(), value_.size());
        }
        value_.clear();
    }

  private:
    std::string value_;
};

}  // namespace ref
