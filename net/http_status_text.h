#pragma once

namespace net {

// The reason phrase of a status code ("Method Not Allowed").
const char* http_status_text(int status);

}  // namespace net
