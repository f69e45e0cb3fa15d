#include "tls_test_support.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/entropy.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/pk.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include "net/socket_stream.h"
#include "net/sslbase_io.h"
#include "net_core_testkit.h"

namespace net::test {

namespace {

struct rng {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    rng() {
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        if (mbedtls_ctr_drbg_seed(&drbg, mbedtls_entropy_func, &entropy, nullptr, 0) != 0) {
            throw std::runtime_error("drbg seed");
        }
    }
    ~rng() {
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }
};

void check(int ret, const char* what) {
    if (ret < 0) {
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(ret));
    }
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

struct pem_pair {
    std::string key, crt;
};

// A P-256 key and a self-signed certificate for it.
pem_pair make_self_signed(const char* subject, int serial, bool ca) {
    rng random;
    mbedtls_pk_context key;
    mbedtls_x509write_cert crt;
    mbedtls_mpi sn;
    mbedtls_pk_init(&key);
    mbedtls_x509write_crt_init(&crt);
    mbedtls_mpi_init(&sn);
    pem_pair out;
    unsigned char buf[4096];
    try {
        check(mbedtls_pk_setup(&key, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY)), "pk_setup");
        check(mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(key),
                                  mbedtls_ctr_drbg_random, &random.drbg),
              "ecp_gen_key");
        mbedtls_x509write_crt_set_version(&crt, MBEDTLS_X509_CRT_VERSION_3);
        mbedtls_x509write_crt_set_md_alg(&crt, MBEDTLS_MD_SHA256);
        mbedtls_x509write_crt_set_subject_key(&crt, &key);
        mbedtls_x509write_crt_set_issuer_key(&crt, &key);
        check(mbedtls_x509write_crt_set_subject_name(&crt, subject), "subject");
        check(mbedtls_x509write_crt_set_issuer_name(&crt, subject), "issuer");
        check(mbedtls_mpi_lset(&sn, serial), "serial");
        check(mbedtls_x509write_crt_set_serial(&crt, &sn), "set_serial");
        check(mbedtls_x509write_crt_set_validity(&crt, "20200101000000", "20991231235959"),
              "validity");
        check(mbedtls_x509write_crt_set_basic_constraints(&crt, ca ? 1 : 0, -1), "constraints");
        check(
            mbedtls_x509write_crt_pem(&crt, buf, sizeof buf, mbedtls_ctr_drbg_random, &random.drbg),
            "crt_pem");
        out.crt = reinterpret_cast<char*>(buf);
        check(mbedtls_pk_write_key_pem(&key, buf, sizeof buf), "key_pem");
        out.key = reinterpret_cast<char*>(buf);
    } catch (...) {
        mbedtls_platform_zeroize(buf, sizeof buf);
        mbedtls_mpi_free(&sn);
        mbedtls_x509write_crt_free(&crt);
        mbedtls_pk_free(&key);
        throw;
    }
    mbedtls_platform_zeroize(buf, sizeof buf);
    mbedtls_mpi_free(&sn);
    mbedtls_x509write_crt_free(&crt);
    mbedtls_pk_free(&key);
    return out;
}

struct owned_files : tls_files {
    owned_files() {
        char tmpl[] = "/tmp/netws-tls-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        dir = tmpl;
        const pem_pair server = make_self_signed("CN=127.0.0.1", 1, false);
        const pem_pair client = make_self_signed("CN=test client", 2, true);
        const pem_pair other = make_self_signed("CN=other", 3, false);
        server_crt = dir + "/server_crt.pem";
        server_key = dir + "/server_key.pem";
        other_key = dir + "/other_key.pem";
        client_crt = dir + "/client_crt.pem";
        client_key = dir + "/client_key.pem";
        encrypted_server_key = dir + "/server_key_encrypted.pem";
        garbage = dir + "/garbage.pem";
        write_file(server_crt, server.crt);
        write_file(server_key, server.key);
        write_file(other_key, other.key);
        write_file(client_crt, client.crt);
        write_file(client_key, client.key);
        write_file(garbage,
                   "-----BEGIN CERTIFICATE-----\nnot base64 at all\n"
                   "-----END CERTIFICATE-----\n");
        int status = -1;
        run_command("openssl ec -in " + server_key + " -aes128 -passout pass:secret -out " +
                        encrypted_server_key + " 2>/dev/null",
                    status);
        if (status != 0) {
            throw std::runtime_error("openssl ec failed");
        }
    }
    ~owned_files() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
};

}  // namespace

const tls_files& test_files() {
    static const owned_files files;
    return files;
}

int listen_loopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), size) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        throw std::runtime_error("listen");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int accept_within(int listen_fd) {
    pollfd p{listen_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(kPatience.count())) <= 0) {
        return -1;
    }
    return ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

std::unique_ptr<mbedtls_conf> server_conf(bool cache, mbedtls_verify_t verify) {
    auto conf = std::make_unique<mbedtls_conf>(true, verify);
    conf->enable_cache(cache);
    if (!conf->add_cert(test_files().server_crt.c_str()) ||
        !conf->set_key(test_files().server_key.c_str())) {
        throw std::runtime_error("server certificate or key refused");
    }
    return conf;
}

tls_echo_server::tls_echo_server(mbedtls_conf& conf, size_t connections, size_t echo_limit,
                                 int rw_timeout)
    : conf_(conf), connections_(connections), echoLimit_(echo_limit), rwTimeout_(rw_timeout) {
    listenFd_ = listen_loopback(port_);
    thread_ = std::thread([this] { serve(); });
}

tls_echo_server::~tls_echo_server() {
    if (thread_.joinable()) {
        thread_.join();
    }
    ::close(listenFd_);
}

void tls_echo_server::serve() {
    for (size_t i = 0; i < connections_; ++i) {
        const int fd = accept_within(listenFd_);
        if (fd < 0) {
            return;  // the test's client never came; results() shows it
        }
        served_connection served;
        {
            socket_stream stream(fd);
            stream.set_rw_timeout(rwTimeout_);
            sslbase_io* layer = conf_.create(false);
            if (stream.setup_hook(layer) == layer) {
                layer->destroy();
            } else {
                served.opened = true;
                served.handshake = layer->handshake();
                served.handshake_ok = layer->handshake_ok();
                char buf[16384];
                while (served.handshake &&
                       (echoLimit_ == 0 || served.received.size() < echoLimit_)) {
                    const ssize_t n = stream.read(buf, sizeof buf);
                    served.last_read = static_cast<long>(n);
                    if (n <= 0 || !stream.write(buf, static_cast<size_t>(n))) {
                        break;
                    }
                    served.received.append(buf, static_cast<size_t>(n));
                }
            }
        }  // closing the stream sends close_notify
        std::lock_guard<std::mutex> guard(lock_);
        results_.push_back(served);
    }
}

std::vector<served_connection> tls_echo_server::results() {
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> guard(lock_);
    return results_;
}

struct tls_client::state {
    rng random;
    mbedtls_net_context net;
    mbedtls_ssl_config conf;
    mbedtls_x509_crt crt;
    mbedtls_pk_context key;
    mbedtls_ssl_context ssl;
    state() {
        mbedtls_net_init(&net);
        mbedtls_ssl_config_init(&conf);
        mbedtls_x509_crt_init(&crt);
        mbedtls_pk_init(&key);
        mbedtls_ssl_init(&ssl);
    }
    ~state() {
        mbedtls_ssl_free(&ssl);
        mbedtls_pk_free(&key);
        mbedtls_x509_crt_free(&crt);
        mbedtls_ssl_config_free(&conf);
        mbedtls_net_free(&net);
    }
};

tls_client::tls_client(int port, const options& opts) : s_(std::make_unique<state>()) {
    check(mbedtls_net_connect(&s_->net, "127.0.0.1", std::to_string(port).c_str(),
                              MBEDTLS_NET_PROTO_TCP),
          "connect");
    check(mbedtls_ssl_config_defaults(&s_->conf, MBEDTLS_SSL_IS_CLIENT,
                                      MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT),
          "client defaults");
    mbedtls_ssl_conf_rng(&s_->conf, mbedtls_ctr_drbg_random, &s_->random.drbg);
    mbedtls_ssl_conf_authmode(&s_->conf, MBEDTLS_SSL_VERIFY_NONE);
    mbedtls_ssl_conf_read_timeout(&s_->conf, static_cast<uint32_t>(kPatience.count()));
    if (opts.tls_1_1_only) {
        mbedtls_ssl_conf_min_version(&s_->conf, MBEDTLS_SSL_MAJOR_VERSION_3,
                                     MBEDTLS_SSL_MINOR_VERSION_1);
        mbedtls_ssl_conf_max_version(&s_->conf, MBEDTLS_SSL_MAJOR_VERSION_3,
                                     MBEDTLS_SSL_MINOR_VERSION_2);
    }
    if (!opts.crt.empty()) {
        check(mbedtls_x509_crt_parse_file(&s_->crt, opts.crt.c_str()), "client crt");
        check(mbedtls_pk_parse_keyfile(&s_->key, opts.key.c_str(), nullptr), "client key");
        check(mbedtls_ssl_conf_own_cert(&s_->conf, &s_->crt, &s_->key), "own cert");
    }
    check(mbedtls_ssl_setup(&s_->ssl, &s_->conf), "client setup");
    mbedtls_ssl_set_bio(&s_->ssl, &s_->net, mbedtls_net_send, nullptr, mbedtls_net_recv_timeout);
}

tls_client::~tls_client() = default;

int tls_client::handshake() {
    int ret;
    do {
        ret = mbedtls_ssl_handshake(&s_->ssl);
    } while (ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE);
    return ret;
}

bool tls_client::write_all(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const int n =
            mbedtls_ssl_write(&s_->ssl, reinterpret_cast<const unsigned char*>(data.data()) + done,
                              data.size() - done);
        if (n == MBEDTLS_ERR_SSL_WANT_WRITE || n == MBEDTLS_ERR_SSL_WANT_READ) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string tls_client::read(size_t len) {
    std::string out(len, '\0');
    size_t done = 0;
    while (done < len) {
        const int n = mbedtls_ssl_read(
            &s_->ssl, reinterpret_cast<unsigned char*>(out.data()) + done, len - done);
        if (n == MBEDTLS_ERR_SSL_WANT_READ || n == MBEDTLS_ERR_SSL_WANT_WRITE) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
}

int tls_client::read_end() {
    unsigned char byte;
    int ret;
    do {
        ret = mbedtls_ssl_read(&s_->ssl, &byte, 1);
    } while (ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE);
    return ret;
}

void tls_client::close_notify() {
    mbedtls_ssl_close_notify(&s_->ssl);
}

std::string run_s_client(int port, const std::string& args, const std::string& input, int& status) {
    char tmpl[] = "/tmp/netws-s_client-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd < 0) {
        status = -1;
        return {};
    }
    ::close(fd);
    write_file(tmpl, input);
    const std::string command =
        "timeout 30 openssl s_client -connect 127.0.0.1:" + std::to_string(port) + " " + args +
        " < " + tmpl + " 2>&1";
    std::string out = run_command(command, status);
    ::unlink(tmpl);
    return out;
}

}  // namespace net::test
