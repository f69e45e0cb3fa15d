#pragma once

namespace net {

// Prepares the process for the library: a peer that closes while an answer
// is being written must not end the process (SIGPIPE is ignored). Once,
// before any listener runs; calling it again does no harm.
void acl_cpp_init();

}  // namespace net
