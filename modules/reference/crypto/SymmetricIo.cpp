#include "crypto/SymmetricIo.h"

#include <climits>

#include "core/Outcome.h"

namespace ref {

size_t ReadFull(BIO* in, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const size_t want = size - got > INT_MAX ? INT_MAX : size - got;
        const int n = BIO_read(in, data + got, static_cast<int>(want));
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && BIO_should_retry(in))
            continue;
        if (n == 0 || BIO_eof(in))
            break;
        Fail(kFile, "reading the input failed");
    }
    return got;
}

void WriteAll(BIO* out, const uint8_t* data, size_t size) {
    size_t put = 0;
    while (put < size) {
        const size_t want = size - put > INT_MAX ? INT_MAX : size - put;
        const int n = BIO_write(out, data + put, static_cast<int>(want));
        if (n > 0) {
            put += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && BIO_should_retry(out))
            continue;
        Fail(kFile, "writing the output failed");
    }
}

}  // namespace ref
