// Independent clients read our answers: curl and Python's http.client.
#include <gtest/gtest.h>

#include "tests/net/net_core_testkit.h"

namespace {

using namespace net::test;

bool have(const char* probe) {
    int status = -1;
    run_command(std::string(probe) + " >/dev/null 2>&1", status);
    return status == 0;
}

class Clients : public ::testing::Test {
  protected:
    void SetUp() override {
        server_.jsonLimit = 1024000;
        running_ = std::make_unique<server_runner>(server_);
        ASSERT_TRUE(running_->listening());
        base_ = "http://127.0.0.1:" + std::to_string(running_->port());
    }

    std::string curl(const std::string& args, int& status) {
        return run_command("curl -sS --max-time 20 " + args + " 2>&1", status);
    }

    event_log log_;
    test_master server_{log_};
    std::unique_ptr<server_runner> running_;
    std::string base_;
};

TEST_F(Clients, CurlPostsJsonAndReadsTheChunkedAnswer) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    int status = -1;
    const std::string out =
        curl("-X POST -H 'Content-Type: application/json' --data '{\"ServeltData\":\"abc\"}' " +
                 base_ + "/",
             status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "data[abc]");
}

TEST_F(Clients, CurlGetsAndReusesTheConnection) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    int status = -1;
    const std::string out = curl(base_ + "/one " + base_ + "/two", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "GET /oneGET /two");
    EXPECT_EQ(log_.count("accept"), 1u);
}

TEST_F(Clients, CurlReadsThePreflightAnswer) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    int status = -1;
    const std::string out = curl(
        "-i -X OPTIONS -H 'Origin: http://page' "
        "-H 'Access-Control-Request-Method: POST' " +
            base_ + "/",
        status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("HTTP/1.1 200 OK"), std::string::npos) << out;
    EXPECT_NE(out.find("Connection: close"), std::string::npos) << out;
    EXPECT_EQ(log_.count("options"), 1u);
}

TEST_F(Clients, CurlSendsChunksAndWaitsForContinue) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    const std::string text(5000, 'z');
    int status = -1;
    std::string out = curl("-H 'Transfer-Encoding: chunked' --data '{\"ServeltData\":\"" + text +
                               "\"}' " + base_ + "/",
                           status);
    EXPECT_EQ(status, 0) << out.substr(0, 200);
    EXPECT_EQ(out, "data[" + text + "]");
    out = curl("-H 'Expect: 100-continue' --data '{\"ServeltData\":\"c\"}' " + base_ + "/", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "data[c]");
}

TEST_F(Clients, CurlReadsTheRefusals) {
    if (!have("curl --version")) {
        GTEST_SKIP() << "no curl";
    }
    int status = -1;
    std::string out = curl("-o /dev/null -w '%{http_code}' -X PUT --data x " + base_ + "/", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "405");
    out = curl("--http1.0 --data '{\"ServeltData\":\"old\"}' " + base_ + "/", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "data[old]");
}

TEST_F(Clients, PythonHttpClientReadsEveryKindOfAnswer) {
    if (!have("python3 -c 'import http.client'")) {
        GTEST_SKIP() << "no python3";
    }
    const std::string script =
        "import http.client,sys\n"
        "c=http.client.HTTPConnection('127.0.0.1'," +
        std::to_string(running_->port()) +
        ",timeout=20)\n"
        "out=[]\n"
        "c.request('POST','/',body='{\"ServeltData\":\"py\"}')\n"
        "r=c.getresponse();out.append('%d %s %s'%(r.status,r.getheader('Transfer-Encoding'),"
        "r.read().decode()))\n"
        "c.request('GET','/again')\n"
        "r=c.getresponse();out.append('%d %s'%(r.status,r.read().decode()))\n"
        "c.request('OPTIONS','/',headers={'Origin':'o'})\n"
        "r=c.getresponse();out.append('%d %s %r'%(r.status,"
        "r.getheader('Access-Control-Allow-Origin'),r.read()))\n"
        "c.close()\n"
        "c.request('DELETE','/')\n"
        "r=c.getresponse();out.append('%d %r'%(r.status,r.read()))\n"
        "print('|'.join(out))\n";
    int status = -1;
    const std::string out =
        run_command("python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\" 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "200 chunked data[py]|200 GET /again|200 None b''|405 b''\n");
}

}  // namespace
