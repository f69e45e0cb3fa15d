#include "net/http_status_text.h"

#include <http_parser.h>

namespace net {

const char* http_status_text(int status) {
    const char* text = http_status_str(static_cast<http_status>(status));
    if (text != nullptr && text[0] != '<') {
        return text;
    }
    switch (status / 100) {
        case 1:
            return "Informational";
        case 2:
            return "Success";
        case 3:
            return "Redirection";
        case 4:
            return "Client Error";
        default:
            return "Server Error";
    }
}

}  // namespace net
