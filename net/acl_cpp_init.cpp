#include "net/acl_cpp_init.h"

#include <csignal>

namespace net {

void acl_cpp_init() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace net
