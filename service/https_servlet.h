#pragma once
// The request handler of one connection: POST/GET bodies carrying a request
// text, the CORS preflight, WebSocket messages, and refusals.

#include "net/HttpServlet.h"

class https_servlet : public net::HttpServlet {
  public:
    https_servlet(net::socket_stream* stream, net::session* session);
    ~https_servlet() override;

  protected:
    bool doGet(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doWebSocket(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doPost(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doOptions(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doUnknown(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doError(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
};

// Runs one UTF-8 request text under the dispatch lock and returns the UTF-8
// response text; the conversions happen outside the lock.
std::string RunRequestText(std::string_view utf8Request);
