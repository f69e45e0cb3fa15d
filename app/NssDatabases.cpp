#include "app/NssDatabases.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace zqt {

namespace fs = std::filesystem;

bool HasNssDatabase(const std::string& directory) {
    std::error_code ec;
    return fs::is_regular_file(fs::path(directory) / "cert9.db", ec);
}

std::vector<NssDatabase> FindNssDatabases(const std::string& home) {
    std::vector<NssDatabase> databases;
    databases.push_back({home + "/.pki/nssdb", true});

    std::vector<std::string> profiles;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(home) / ".mozilla/firefox", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->is_directory(ec) && HasNssDatabase(it->path().string())) {
            profiles.push_back(it->path().string());
        }
    }
    std::sort(profiles.begin(), profiles.end());
    for (std::string& profile : profiles) {
        databases.push_back({std::move(profile), false});
    }
    return databases;
}

}  // namespace zqt
