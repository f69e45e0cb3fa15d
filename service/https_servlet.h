#pragma once
// The request handler of one connection: POST/GET bodies carrying a request
// text, the CORS preflight, WebSocket messages, and refusals.

#include "net/HttpServlet.h"
#include "service/request_caller.h"
#include "service/request_dispatch.h"

class https_servlet : public net::HttpServlet {
  public:
    // Request texts, from bodies and WebSocket messages, run through
    // `dispatch`, which must outlive the servlet.
    https_servlet(net::socket_stream* stream, net::session* session,
                  const request_dispatch& dispatch);
    ~https_servlet() override;

  protected:
    // Pages whose origin the policy denies get 403 before anything runs.
    bool admit(net::HttpServletRequest& req) override;
    bool doGet(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doWebSocket(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doPost(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doOptions(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doUnknown(net::HttpServletRequest& req, net::HttpServletResponse& res) override;
    bool doError(net::HttpServletRequest& req, net::HttpServletResponse& res) override;

  private:
    const request_dispatch& dispatch_;
    bool webSocketOpen_ = false;
    request_caller webSocketCaller_;  // the opening handshake's
};
