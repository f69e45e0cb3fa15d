#pragma once
// Configuration tables of a server object. Rows name a value, its default
// and the variable that receives it; a row with a null name ends a table.
// No configuration file is read, so every variable receives its default
// when its table is registered.

#include <memory>
#include <vector>

#include "net/noncopyable.h"

namespace net {

struct master_int_tbl {
    const char* name;
    int defval;
    int* target;
    int min;  // with max, bounds the value when min < max
    int max;
};

struct master_int64_tbl {
    const char* name;
    long long defval;
    long long* target;
    long long min;
    long long max;
};

struct master_str_tbl {
    const char* name;
    const char* defval;
    char** target;  // a copy owned by the server object
};

struct master_bool_tbl {
    const char* name;
    int defval;
    int* target;  // 1 or 0
};

class master_base : public noncopyable {
  public:
    virtual ~master_base();

    master_base& set_cfg_int(const master_int_tbl* table);
    master_base& set_cfg_int64(const master_int64_tbl* table);
    master_base& set_cfg_str(const master_str_tbl* table);
    master_base& set_cfg_bool(const master_bool_tbl* table);

  protected:
    master_base() = default;

  private:
    struct free_text {
        void operator()(char* text) const;
    };
    std::vector<std::unique_ptr<char, free_text>> texts_;
};

}  // namespace net
