#pragma once
// Reading what certutil prints.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zqt {

// The Base64 bodies of the PEM certificates in text, in order, without line
// breaks or other white space, so that certutil's output (CR LF lines) and a
// PEM file compare equal when they hold the same certificate.
std::vector<std::string> PemCertificateBodies(std::string_view text);

// The trust attributes ("P,,", "CT,C,C") that the listing of `certutil -L`
// gives for nickname, or nothing when the nickname is not listed.
std::optional<std::string> ListedTrust(std::string_view listing, std::string_view nickname);

}  // namespace zqt
