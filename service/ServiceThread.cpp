#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "service/master_services.h"

namespace {

// Lets the stop cut short the pause after a failed listen.
std::mutex pauseLock;
std::condition_variable pauseWake;

void PauseAfterFailedListen() {
    std::unique_lock lock(pauseLock);
    pauseWake.wait_for(lock, std::chrono::seconds(1), [] { return !ServiceRunFlag().load(); });
}

}  // namespace

std::atomic<bool>& ServiceRunFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

unsigned int ServiceThreadProc(void* /*parameter*/) {
    master_services& host = master_services::get_instance();
    host.register_tables();
    std::printf("listen on: %s\r\n", kServiceAddresses);
    std::fflush(stdout);
    while (ServiceRunFlag().load()) {
        if (!host.run_alone(kServiceAddresses, nullptr, 5, 1)) {
            // Listening failed (a port taken, say): try again, without spinning.
            PauseAfterFailedListen();
        }
    }
    return 0;
}

void StopService() {
    {
        std::lock_guard lock(pauseLock);
        ServiceRunFlag().store(false);
    }
    pauseWake.notify_all();
    master_services& host = master_services::get_instance();
    host.close_dispatch();
    host.stop();
}
