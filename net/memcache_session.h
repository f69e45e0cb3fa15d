#pragma once
// Session stores of a servlet. The only store here is a placeholder: it
// keeps its settings and never connects anywhere.

#include <ctime>
#include <string>

namespace net {

class session {
  public:
    virtual ~session() = default;
    session(const session&) = delete;
    session& operator=(const session&) = delete;

  protected:
    session() = default;
};

class memcache_session : public session {
  public:
    explicit memcache_session(const char* cache_addr, int conn_timeout = 180, int rw_timeout = 300,
                              const char* prefix = nullptr, time_t ttl = 0,
                              const char* sid = nullptr, bool encode_key = true);
    ~memcache_session() override;

    const std::string& cache_addr() const { return cacheAddr_; }
    const std::string& prefix() const { return prefix_; }
    const std::string& sid() const { return sid_; }
    int conn_timeout() const { return connTimeout_; }
    int rw_timeout() const { return rwTimeout_; }
    time_t ttl() const { return ttl_; }
    bool encode_key() const { return encodeKey_; }

  private:
    std::string cacheAddr_;
    std::string prefix_;
    std::string sid_;
    int connTimeout_;
    int rwTimeout_;
    time_t ttl_;
    bool encodeKey_;
};

}  // namespace net
