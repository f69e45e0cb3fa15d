#include "net/master_base.h"

#include <cstdlib>
#include <cstring>

namespace net {

namespace {

template <typename T>
T bounded(T value, T min, T max) {
    if (min < max) {
        if (value < min) {
            return min;
        }
        if (value > max) {
            return max;
        }
    }
    return value;
}

}  // namespace

void master_base::free_text::operator()(char* text) const {
    std::free(text);
}

master_base::~master_base() = default;

master_base& master_base::set_cfg_int(const master_int_tbl* table) {
    for (; table != nullptr && table->name != nullptr; ++table) {
        if (table->target != nullptr) {
            *table->target = bounded(table->defval, table->min, table->max);
        }
    }
    return *this;
}

master_base& master_base::set_cfg_int64(const master_int64_tbl* table) {
    for (; table != nullptr && table->name != nullptr; ++table) {
        if (table->target != nullptr) {
            *table->target = bounded(table->defval, table->min, table->max);
        }
    }
    return *this;
}

master_base& master_base::set_cfg_str(const master_str_tbl* table) {
    for (; table != nullptr && table->name != nullptr; ++table) {
        if (table->target == nullptr) {
            continue;
        }
        char* copy = ::strdup(table->defval != nullptr ? table->defval : "");
        texts_.emplace_back(copy);
        *table->target = copy;
    }
    return *this;
}

master_base& master_base::set_cfg_bool(const master_bool_tbl* table) {
    for (; table != nullptr && table->name != nullptr; ++table) {
        if (table->target != nullptr) {
            *table->target = table->defval != 0 ? 1 : 0;
        }
    }
    return *this;
}

}  // namespace net
