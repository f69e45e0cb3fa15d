#include "service/master_services.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "controls/HostedControl.h"
#include "net/log.h"
#include "net/mbedtls_conf.h"
#include "net/memcache_session.h"
#include "net/socket_stream.h"
#include "protocol/EumFunction.h"
#include "protocol/RunProcess.h"
#include "service/PrintLine.h"
#include "service/audit_line.h"
#include "service/https_servlet.h"
#include "service/origin_policy_file.h"
#include "support/TextConversion.h"

namespace {

constexpr const char* kFile = "master_services";
constexpr const char* kSessionStore = "127.0.0.1:11211";

// Configuration targets. No part of the service reads the first ones.
int var_cfg_int;
long long var_cfg_int64;
char* var_cfg_str;
char* var_cfg_libcrypto_path;
char* var_cfg_libx509_path;
char* var_cfg_libssl_path;
char* var_cfg_crt_file;
char* var_cfg_key_file;
int var_cfg_bool;

const net::master_int_tbl kIntTable[] = {
    {"int", 120, &var_cfg_int, 0, 0},
    {nullptr, 0, nullptr, 0, 0},
};

const net::master_int64_tbl kInt64Table[] = {
    {"int64", 120, &var_cfg_int64, 0, 0},
    {nullptr, 0, nullptr, 0, 0},
};

const net::master_str_tbl kStrTable[] = {
    {"str", "test_msg", &var_cfg_str},
    {"libcrypto_path", "mbedtls.dll", &var_cfg_libcrypto_path},
    {"libx509_path", "mbedtls.dll", &var_cfg_libx509_path},
    {"libssl_path", "mbedtls.dll", &var_cfg_libssl_path},
    {"crt_file", "ssl_crt.pem", &var_cfg_crt_file},
    {"key_file", "ssl_key.pem", &var_cfg_key_file},
    {nullptr, nullptr, nullptr},
};

const net::master_bool_tbl kBoolTable[] = {
    {"bool", 1, &var_cfg_bool},
    {nullptr, 0, nullptr},
};

bool FileExists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

// "./value" when the file is in the working directory, else "./ZQTService/value".
void ResolvePath(char (&out)[1024], const char* value) {
    if (FileExists(value)) {
        std::snprintf(out, sizeof out, "./%s", value);
    } else {
        std::snprintf(out, sizeof out, "./ZQTService/%s", value);
    }
}

// Runs one request text: every hosted control is told the page first, and
// the audit line follows.
std::u16string RunForCaller(std::u16string request, const request_caller& caller) {
    const std::u16string origin = zqt::Utf8ToUtf16(caller.origin);
    CUlvoctrlctrl::Instance().SetCaller(origin);
    CUlvocertenrollctrl::Instance().SetCaller(origin);
    RunSummary ran;
    std::u16string response = RunProcess(std::move(request), CommandFactory(CreateFunction), &ran);
    WriteAuditLine(caller, ran);
    return response;
}

bool AdmitsOrigin(const char* origin) {
    static origin_policy_file policy(origin_policy_file::DefaultPath());
    return policy.Admits(origin);
}

https_servlet* ServletOf(net::socket_stream* stream) {
    return static_cast<https_servlet*>(stream->get_ctx());
}

}  // namespace

master_services& master_services::get_instance() {
    static master_services instance;
    return instance;
}

master_services::master_services()
    : dispatch_(dispatchLock_, request_dispatch::runner(RunForCaller), AdmitsOrigin) {}

master_services::~master_services() {
    release_conf();
}

void master_services::release_conf() {
    delete conf_.exchange(nullptr);
}

void master_services::register_tables() {
    set_cfg_int(kIntTable);
    set_cfg_int64(kInt64Table);
    set_cfg_str(kStrTable);
    set_cfg_bool(kBoolTable);
}

void master_services::thread_on_init() {
    const char* fn = "master_services::thread_on_init";
    if (var_cfg_crt_file == nullptr || *var_cfg_crt_file == '\0' || var_cfg_key_file == nullptr ||
        *var_cfg_key_file == '\0') {
        return;
    }
    char libcrypto[1024], libx509[1024], libssl[1024], crt[1024], key[1024];
    ResolvePath(libcrypto, var_cfg_libcrypto_path ? var_cfg_libcrypto_path : "");
    ResolvePath(libx509, var_cfg_libx509_path ? var_cfg_libx509_path : "");
    ResolvePath(libssl, var_cfg_libssl_path ? var_cfg_libssl_path : "");
    ResolvePath(crt, var_cfg_crt_file);
    ResolvePath(key, var_cfg_key_file);

    net::mbedtls_conf::set_libpath(libcrypto, libx509, libssl);
    if (!net::mbedtls_conf::load()) {
        net::log::error4(kFile, __LINE__, fn, "load %s error", libssl);
        return;
    }
    auto* conf = new net::mbedtls_conf(true, net::MBEDTLS_VERIFY_NONE);
    release_conf();
    conf->enable_cache(true);
    if (!conf->add_cert(crt)) {
        net::log::error4(kFile, __LINE__, fn, "add cert failed, crt: %s, key: %s", crt, key);
        delete conf;
        return;
    }
    net::log::msg4(kFile, __LINE__, fn, "load cert ok, crt: %s", crt);
    if (!conf->set_key(key, nullptr)) {
        net::log::error4(kFile, __LINE__, fn, "set private key error");
        delete conf;
        return;
    }
    net::log::msg4(kFile, __LINE__, fn, "load key ok, key: %s", key);
    conf_.store(conf);
}

bool master_services::thread_on_accept(net::socket_stream* stream) {
    net::log::msg4(kFile, __LINE__, "master_services::thread_on_accept", "connect from %s, fd: %d",
                   stream->get_peer(true), stream->sock_handle());
    stream->set_rw_timeout(5);
    auto* session = new net::memcache_session(kSessionStore, 180, 300, nullptr, 0, nullptr, true);
    auto* servlet = new https_servlet(stream, session, dispatch_);
    stream->set_ctx(servlet);
    return true;
}

bool master_services::thread_on_read(net::socket_stream* stream) {
    https_servlet* servlet = ServletOf(stream);
    if (servlet == nullptr) {
        net::log::fatal4(kFile, __LINE__, "master_services::thread_on_read", "servlet null!");
    }
    if (tls_conf() != nullptr) {
        const char* local = stream->get_local(true);
        int port = PortOfLocalAddress(local);
        PrintLine("local=%s port=%d\r\n", local ? local : "", port);
        if (port == kTlsPort) {
            net::mbedtls_conf* conf = tls_conf();
            if (conf == nullptr || setup_ssl(*stream, *conf) == nullptr) {
                return false;
            }
        }
    }
    try {
        return servlet->doRun(kSessionStore, stream);
    } catch (const request_dropped&) {
        net::log::msg4(kFile, __LINE__, "master_services::thread_on_read",
                       "stopping: request from %s dropped, fd: %d", stream->get_peer(false),
                       stream->sock_handle());
        return false;
    }
}

bool master_services::thread_on_timeout(net::socket_stream* stream) {
    net::log::msg4(kFile, __LINE__, "master_services::thread_on_timeout",
                   "read timeout from %s, fd: %d", stream->get_peer(false), stream->sock_handle());
    return false;
}

void master_services::thread_on_close(net::socket_stream* stream) {
    net::log::msg4(kFile, __LINE__, "master_services::thread_on_close",
                   "disconnect from %s, fd: %d", stream->get_peer(false), stream->sock_handle());
    https_servlet* servlet = ServletOf(stream);
    if (servlet != nullptr) {
        stream->set_ctx(nullptr);
        delete servlet;
    }
}

int PortOfLocalAddress(const char* local) {
    if (local == nullptr || *local == '\0') {
        return 0;
    }
    const char* bar = std::strrchr(local, '|');
    if (bar == nullptr) {
        return 0;
    }
    return std::atoi(bar + 1);
}
