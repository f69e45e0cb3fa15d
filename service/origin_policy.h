#pragma once
// The origin policy: the lines of origins.conf, read top to bottom.
//
//   allow PATTERN | deny PATTERN   (patterns: see origin_pattern.h)
//   blank lines and lines starting with '#' are skipped
//
// The first line whose pattern fits decides. When none fits:
//   - a request without an Origin header (curl, local tools) is served;
//   - a request with one is refused if the policy has an allow line for
//     origins (it is then a list of the pages allowed), else served (a
//     list of the pages refused).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/origin_pattern.h"

class origin_policy {
  public:
    // Where a text does not parse: its line (from 1) and why.
    struct parse_error {
        int line = 0;
        std::string reason;
    };

    // The policy of a file's text, or the first line that is wrong.
    static origin_policy Parse(std::string_view text, std::optional<parse_error>& error);

    // Refuses everything, also requests without an origin: what a broken
    // file stands for until it is fixed.
    static origin_policy DenyAll();

    // `origin` is null (or empty) when the request had no Origin header.
    bool Admits(const char* origin) const;

  private:
    struct rule {
        bool allow;
        origin_pattern pattern;
    };
    std::vector<rule> rules_;
    bool listsAllowed_ = false;  // has an allow line for origins
    bool denyAll_ = false;
};
