#include "core/Config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "core/Text.h"

namespace ref {

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// $XDG_*_HOME when set and absolute, else $HOME/<fallback>.
std::string XdgDir(const char* variable, const char* fallback) {
    std::string dir = Env(variable);
    if (!dir.empty() && dir[0] == '/') {
        return dir;
    }
    std::string home = Env("HOME");
    if (home.empty()) {
        home = "/tmp";
    }
    return home + "/" + fallback;
}

std::vector<std::string> SplitPaths(std::string_view list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t colon = list.find(':', start);
        const std::string_view item = TrimBlanks(list.substr(
            start, colon == std::string_view::npos ? std::string_view::npos : colon - start));
        if (!item.empty()) {
            out.emplace_back(item);
        }
        if (colon == std::string_view::npos)
            break;
        start = colon + 1;
    }
    return out;
}

bool ParseBool(std::string_view value, bool& out) {
    const std::string v = AsciiLower(value);
    if (v == "1" || v == "true" || v == "yes" || v == "on") {
        out = true;
        return true;
    }
    if (v == "0" || v == "false" || v == "no" || v == "off") {
        out = false;
        return true;
    }
    return false;
}

bool ParseSeconds(std::string_view value, int low, int high, int& out) {
    char* end = nullptr;
    const std::string text(value);
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || v < low || v > high) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

void ApplyLine(Config& config, std::string_view key, std::string_view value) {
    if (key == "pinentry" && !value.empty() && value[0] == '/') {
        config.pinentry = value;
    } else if (key == "files_dir" && !value.empty() && value[0] == '/') {
        config.filesDir = value;
    } else if (key == "pkcs11_modules") {
        config.pkcs11Modules = SplitPaths(value);
        config.pkcs11Discover = false;
    } else if (key == "pin_timeout_seconds") {
        ParseSeconds(value, 5, 600, config.pinTimeoutSeconds);
    } else if (key == "pin_batch_seconds") {
        // The window never outlasts five minutes, whatever the file says.
        ParseSeconds(value, 0, 300, config.pinBatchSeconds);
    } else if (key == "allow_machine_info") {
        ParseBool(value, config.allowMachineInfo);
    }
}

void ReadFile(Config& config, const std::string& path) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view text = TrimBlanks(line);
        if (text.empty() || text[0] == '#')
            continue;
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        ApplyLine(config, TrimBlanks(text.substr(0, equals)), TrimBlanks(text.substr(equals + 1)));
    }
}

}  // namespace

Config LoadConfig() {
    Config config;
    const std::string data = XdgDir("XDG_DATA_HOME", ".local/share") + "/zqtca";
    const std::string conf = XdgDir("XDG_CONFIG_HOME", ".config") + "/zqtca";
    config.storeDir = data + "/store";
    config.sealDir = data + "/seals";
    config.licenceDir = data + "/licence";
    config.filesDir = data + "/files";
    config.trustDir = conf + "/trust";

    std::string file = Env("ZQT_REF_CONFIG");
    if (file.empty()) {
        file = conf + "/reference.conf";
    }
    ReadFile(config, file);

    const std::string pinentry = Env("ZQT_PINENTRY");
    if (!pinentry.empty()) {
        config.pinentry = pinentry;
    }
    if (const char* modules = std::getenv("ZQT_PKCS11_MODULES")) {
        config.pkcs11Modules = SplitPaths(modules);
        config.pkcs11Discover = false;
    }
    return config;
}

bool EnsurePrivateDir(const std::string& dir) {
    if (dir.empty() || dir[0] != '/') {
        return false;
    }
    struct stat st {};
    if (lstat(dir.c_str(), &st) == 0) {
        return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 022) == 0;
    }
    if (errno != ENOENT) {
        return false;
    }
    const size_t slash = dir.rfind('/');
    if (slash > 0) {
        const std::string parent = dir.substr(0, slash);
        struct stat pst {};
        if (stat(parent.c_str(), &pst) != 0) {
            // Parents (e.g. ~/.local/share) are ordinary folders of the user.
            if (!EnsurePrivateDir(parent))
                return false;
        }
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

}  // namespace ref
