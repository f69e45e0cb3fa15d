#pragma once
// One pattern of the origin policy and whether an origin fits it.
//
//   none                     a request without an Origin header
//   *                        any origin a request names (also "null")
//   null                     the opaque origin "null" (sandboxed frames, file:)
//   https://bank.example     exactly that origin (scheme://host[:port])
//   https://*.example.com    any subdomain, at any depth, of example.com
//                            with that scheme and port, but not the domain
//
// Origins are compared ignoring ASCII case, as browsers send them: no path,
// no trailing slash, no default port.

#include <optional>
#include <string>
#include <string_view>

class origin_pattern {
  public:
    // Null when `text` is none of the forms above.
    static std::optional<origin_pattern> Parse(std::string_view text);

    // `origin` is null when the request had no (or an empty) Origin header.
    bool Matches(const char* origin) const;

    bool MatchesAbsent() const { return kind_ == kind::absent; }

  private:
    enum class kind { absent, any, exact, subdomains };
    kind kind_ = kind::exact;
    std::string scheme_;  // subdomains: "https://"
    std::string host_;    // exact: the whole origin; subdomains: ".example.com"
    std::string port_;    // subdomains: ":8443" or empty
};
