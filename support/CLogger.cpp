#include "support/CLogger.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/LogFolder.h"
#include "support/PrivateLogFile.h"

namespace {

std::time_t SystemNow() {
    return std::time(nullptr);
}

// The calling thread's id, asked of the kernel once per thread.
int ThreadId() {
    thread_local const int id = static_cast<int>(gettid());
    return id;
}

std::tm LocalTime(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

}  // namespace

CLogger* CLogger::GetInstance() {
    static CLogger* const instance = [] {
        char dir[260] = {};
        if (!zqt::BuildLogFolder(dir, sizeof dir)) {
            dir[0] = '\0';
        }
        return new CLogger(dir);
    }();
    return instance;
}

CLogger::CLogger(const char* dir) : CLogger(dir, nullptr) {}

CLogger::CLogger(const char* dir, NowFunction now) : m_now(now ? now : &SystemNow) {
    // A folder text that does not fit leaves the logger without a folder:
    // it then never writes, rather than writing somewhere else.
    if (dir && std::strlen(dir) < sizeof m_szDir) {
        std::strcpy(m_szDir, dir);
    }
    OpenDayFile();
}

CLogger::~CLogger() {
    if (m_pFile) {
        std::fclose(m_pFile);
    }
}

void CLogger::OpenDayFile() {
    const std::tm today = LocalTime(m_now());
    char name[1024];
    std::snprintf(name, sizeof name, "ZQTCAServiceClient_%04d-%02d-%02d.log", today.tm_year + 1900,
                  today.tm_mon + 1, today.tm_mday);
    if (std::strcmp(name, m_szFileName) == 0) {
        return;
    }
    std::strcpy(m_szFileName, name);
    if (m_pFile) {
        std::fclose(m_pFile);
    }
    m_pFile = OpenFile();
}

std::FILE* CLogger::OpenFile() {
    std::string refusal;
    std::FILE* file = zqt::OpenPrivateLogFile(m_szDir, m_szFileName, &refusal);
    if (!file && !refusal.empty() && !m_refusalTold) {
        m_refusalTold = true;
        std::fprintf(stderr, "daily log: the folder %s is refused (%s); nothing is logged\n",
                     m_szDir, refusal.c_str());
    }
    return file;
}

void CLogger::LogInfo(const char* format, ...) {
    if (m_nLevel >= 1 || !format) {
        return;
    }
    const std::tm now = LocalTime(m_now());
    // The time and thread prefix and " Info: " go in one step; a message too
    // long for the line is cut at the end of the buffer.
    char line[4096];
    const int used = std::snprintf(line, sizeof line, "%02d:%02d:%02d|%d| Info: ", now.tm_hour,
                                   now.tm_min, now.tm_sec, ThreadId());
    if (used > 0 && static_cast<std::size_t>(used) < sizeof line) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(line + used, sizeof line - static_cast<std::size_t>(used), format, args);
        va_end(args);
    }
    WriteLine(line);
}

void CLogger::WriteLine(const char* line) {
    if (!line) {
        return;
    }
    std::lock_guard<std::mutex> lock(m_cs);
    if (!m_pFile) {
        m_pFile = OpenFile();
        if (!m_pFile) {
            return;
        }
    }
    std::fwrite(line, 1, std::strlen(line), m_pFile);
    std::fputc('\n', m_pFile);
    std::fflush(m_pFile);
}
