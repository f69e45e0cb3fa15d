// A scripted certificate-and-seal list library for tests. What it answers is
// read from the environment at every call:
//   ZQT_SIDELIB_LIST, ZQT_SIDELIB_LIST_XEPA  the list bytes of each export,
//       raw, "hex:" followed by hex digits (NUL bytes allowed), or "file:"
//       followed by a path whose bytes are read afresh at every call (so a
//       test can change the list of a running process); unset: empty.
//   ZQT_SIDELIB_MODE  normal (default): size = length + 1, list + NUL;
//       zero / negative: the size call returns 0 / -1;
//       unterminated: size = length, the list is written without its NUL;
//       huge: the size call returns INT32_MAX;
//       throw: the fill call throws std::runtime_error(ZQT_SIDELIB_ERROR).
//   ZQT_SIDELIB_CALLS  a file that gets one line per call:
//       "<export> <n> null|buffer", n counting calls since this copy was loaded.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "zqtca/cert_seal_list.h"

namespace {

std::atomic<int> callsSinceLoad{0};

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string FileBytes(const std::string& path) {
    std::string bytes;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            bytes.append(chunk, got);
        }
        std::fclose(file);
    }
    return bytes;
}

std::string ListBytes(const char* variable) {
    std::string value = Environment(variable);
    if (value.rfind("file:", 0) == 0) {
        return FileBytes(value.substr(5));
    }
    if (value.rfind("hex:", 0) != 0) {
        return value;
    }
    std::string bytes;
    for (size_t i = 4; i + 1 < value.size(); i += 2) {
        int high = HexDigit(value[i]);
        int low = HexDigit(value[i + 1]);
        if (high < 0 || low < 0) {
            break;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

void LogCall(const char* exportName, const char* buffer) {
    int ordinal = ++callsSinceLoad;
    std::string path = Environment("ZQT_SIDELIB_CALLS");
    if (path.empty()) {
        return;
    }
    if (FILE* file = std::fopen(path.c_str(), "a")) {
        std::fprintf(file, "%s %d %s\n", exportName, ordinal, buffer ? "buffer" : "null");
        std::fclose(file);
    }
}

int32_t Answer(const char* exportName, const char* variable, char* buffer) {
    LogCall(exportName, buffer);
    const std::string mode = Environment("ZQT_SIDELIB_MODE");
    const std::string list = ListBytes(variable);
    const bool terminated = mode != "unterminated";
    const auto size = static_cast<int32_t>(list.size() + (terminated ? 1 : 0));
    if (buffer == nullptr) {
        if (mode == "zero")
            return 0;
        if (mode == "negative")
            return -1;
        if (mode == "huge")
            return std::numeric_limits<int32_t>::max();
        return size;
    }
    if (mode == "throw") {
        std::string message = Environment("ZQT_SIDELIB_ERROR");
        throw std::runtime_error(message.empty() ? "scripted failure" : message);
    }
    std::memcpy(buffer, list.data(), list.size());
    if (terminated) {
        buffer[list.size()] = '\0';
    }
    return size;
}

}  // namespace

#ifndef ZQT_SIDELIB_XEPA_ONLY
int32_t GetCertAndSeallist(char* buffer) {
    return Answer(ZQT_CERT_SEAL_LIST_EXPORT, "ZQT_SIDELIB_LIST", buffer);
}
#endif

int32_t GetCertAndSeallistXEPA(char* buffer) {
    return Answer(ZQT_CERT_SEAL_LIST_XEPA_EXPORT, "ZQT_SIDELIB_LIST_XEPA", buffer);
}
