#pragma once
// The daily log: one information line per call, appended to
// <temporary directory>/ZQTCA/ZQTCAServiceClient_YYYY-MM-DD.log.

#include <cstdio>
#include <ctime>
#include <mutex>

class CLogger {
  public:
    // The one process-wide logger, created on first use.
    static CLogger* GetInstance();

    // Formats one line; a null format writes nothing.
    void LogInfo(const char* format, ...) __attribute__((format(printf, 2, 3)));

    virtual ~CLogger();

    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

  protected:
    // The folder text must end with "/". Tests build loggers of their own.
    explicit CLogger(const char* dir);
    // The same with a clock of the test's own (null: the system clock).
    using NowFunction = std::time_t (*)();
    CLogger(const char* dir, NowFunction now);

  private:
    void OpenDayFile();
    // Opens the day's file; a refused folder is told on standard error once.
    std::FILE* OpenFile();
    void WriteLine(const char* line);

    std::FILE* m_pFile = nullptr;
    int m_nLevel = 0;
    char m_szDir[4096] = {};
    char m_szFileName[4096] = {};
    std::mutex m_cs;
    NowFunction m_now = nullptr;
    bool m_refusalTold = false;
};
