#pragma once
// The module's own version and the dotted-number comparison pages ask for.

#include <optional>
#include <string>
#include <vector>

namespace ref {

inline constexpr const char* kModuleVersion = ZQT_REFERENCE_VERSION;

// "1.0.2" -> {1, 0, 2}; nullopt unless one to four dot-separated numbers.
std::optional<std::vector<unsigned long>> ParseVersion(const std::string& text);

// <0, 0, >0 as a is older than, equal to, newer than b (missing parts are 0).
int CompareVersions(const std::vector<unsigned long>& a, const std::vector<unsigned long>& b);

}  // namespace ref
