#pragma once
// What the load tools share: a monotonic clock in microseconds, latency
// samples with their percentiles, the calling thread's CPU time, and one
// result line that bench/run reads ("key=value" pairs).

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

inline uint64_t NowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

// CPU seconds (user + system) the calling thread has used so far.
inline double ThreadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    auto seconds = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

class Latencies {
  public:
    void Add(uint64_t micros) { samples_.push_back(static_cast<uint32_t>(micros)); }
    size_t Count() const { return samples_.size(); }

    // The q-th quantile (0..1) in microseconds; 0 without samples.
    double Quantile(double q) {
        if (samples_.empty()) {
            return 0;
        }
        if (!sorted_) {
            std::sort(samples_.begin(), samples_.end());
            sorted_ = true;
        }
        const size_t at = std::min(samples_.size() - 1, static_cast<size_t>(q * samples_.size()));
        return samples_[at];
    }

  private:
    std::vector<uint32_t> samples_;
    bool sorted_ = false;
};

struct Result {
    uint64_t completed = 0;  // round trips inside the measured window
    uint64_t errors = 0;     // connections lost, wrong answers
    double seconds = 0;      // the measured window
    double clientCpu = 0;    // CPU seconds of the load thread over the whole run
    double clientWall = 0;   // wall seconds of the load thread over the whole run
    Latencies latencies;
};

inline void PrintResult(const char* tool, Result& r) {
    std::printf(
        "%s rate=%.1f completed=%llu errors=%llu seconds=%.3f p50_us=%.0f p99_us=%.0f "
        "client_cpu_s=%.3f client_wall_s=%.3f client_cpu_pct=%.1f\n",
        tool, r.seconds > 0 ? r.completed / r.seconds : 0.0,
        static_cast<unsigned long long>(r.completed), static_cast<unsigned long long>(r.errors),
        r.seconds, r.latencies.Quantile(0.50), r.latencies.Quantile(0.99), r.clientCpu,
        r.clientWall, r.clientWall > 0 ? 100.0 * r.clientCpu / r.clientWall : 0.0);
    std::fflush(stdout);
}

// "--name value" options; a missing value is an error.
class Options {
  public:
    Options(int argc, char** argv) : argc_(argc), argv_(argv) {}

    const char* Text(const char* name, const char* fallback) const {
        for (int i = 1; i + 1 < argc_; ++i) {
            if (std::strcmp(argv_[i], name) == 0) {
                return argv_[i + 1];
            }
        }
        return fallback;
    }
    long Number(const char* name, long fallback) const {
        const char* text = Text(name, nullptr);
        return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
    }
    double Real(const char* name, double fallback) const {
        const char* text = Text(name, nullptr);
        return text != nullptr ? std::strtod(text, nullptr) : fallback;
    }
    bool Flag(const char* name) const {
        for (int i = 1; i < argc_; ++i) {
            if (std::strcmp(argv_[i], name) == 0) {
                return true;
            }
        }
        return false;
    }

  private:
    int argc_;
    char** argv_;
};

}  // namespace bench
