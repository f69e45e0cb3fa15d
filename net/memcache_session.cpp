#include "net/memcache_session.h"

namespace net {

memcache_session::memcache_session(const char* cache_addr, int conn_timeout, int rw_timeout,
                                   const char* prefix, time_t ttl, const char* sid, bool encode_key)
    : cacheAddr_(cache_addr != nullptr ? cache_addr : ""),
      prefix_(prefix != nullptr ? prefix : ""),
      sid_(sid != nullptr ? sid : ""),
      connTimeout_(conn_timeout),
      rwTimeout_(rw_timeout),
      ttl_(ttl),
      encodeKey_(encode_key) {}

memcache_session::~memcache_session() = default;

}  // namespace net
