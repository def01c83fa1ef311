#include "mail/net/mail_tls.h"

#include <arpa/inet.h>
#include <cstring>
#include <mutex>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <string>
#include <sys/socket.h>

namespace {

std::mutex gCaMutex;
std::string gCaFile;
bool gCaLoaded = false;
std::once_flag gContextOnce;
SSL_CTX* gContext = nullptr;

void make_context() {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) return;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A server that just closes is a closed stream, as without TLS.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_default_verify_paths(ctx);
    std::string extra;
    {
        std::lock_guard<std::mutex> hold(gCaMutex);
        extra = gCaFile;
    }
    // A CA file that cannot be read trusts nothing extra; the servers it was
    // meant for then fail with "unknown authority", which names the cause.
    gCaLoaded = !extra.empty() && SSL_CTX_load_verify_locations(ctx, extra.c_str(), nullptr) == 1;
    ERR_clear_error();
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    gContext = ctx;
}

TlsFailure failure_of(long result) {
    switch (result) {
    case X509_V_OK:
        return TlsFailure::Handshake;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsFailure::Expired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsFailure::WrongName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return TlsFailure::UnknownAuthority;
    default:
        return TlsFailure::BadCertificate;
    }
}

void set_timeouts(int fd, int seconds) {
    timeval t{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
}

} // namespace

bool mail_tls_address_literal(const char* host, char (&address)[kAddressTextSize]) {
    // The resolver takes an IPv6 address in brackets as well, so the server
    // name may carry them; the certificate holds the bare address.
    size_t n = strlen(host);
    const bool bracketed = n >= 2 && host[0] == '[' && host[n - 1] == ']';
    if (bracketed) {
        host++;
        n -= 2;
    }
    if (n >= kAddressTextSize) return false;
    memcpy(address, host, n);
    address[n] = '\0';
    unsigned char scratch[16];
    if (!bracketed && inet_pton(AF_INET, address, scratch) == 1) return true;
    return inet_pton(AF_INET6, address, scratch) == 1;
}

bool mail_tls_load_authorities(const char* caFile) {
    {
        std::lock_guard<std::mutex> hold(gCaMutex);
        gCaFile = caFile ? caFile : "";
    }
    std::call_once(gContextOnce, make_context);
    return gCaLoaded;
}

TlsOutcome mail_tls_start(int fd, const char* host, bool verify, int timeoutSeconds) {
    TlsOutcome out;
    out.failure = TlsFailure::Handshake;
    std::call_once(gContextOnce, make_context);
    if (!gContext) return out;
    SSL* ssl = SSL_new(gContext);
    if (!ssl) return out;
    char address[kAddressTextSize];
    const bool numeric = mail_tls_address_literal(host, address);
    // Names go out as SNI; a numeric address is never sent that way.
    if (!numeric) SSL_set_tlsext_host_name(ssl, host);
    if (verify) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (numeric)
            X509_VERIFY_PARAM_set1_ip_asc(param, address);
        else
            X509_VERIFY_PARAM_set1_host(param, host, 0);
    } else {
        SSL_set_verify(ssl, SSL_VERIFY_NONE, nullptr);
    }
    // The session lives on a blocking socket: the time-outs keep a silent
    // server from holding the worker, and from then on a read that would wait
    // longer reports "nothing yet" to the poll loop.
    set_timeouts(fd, timeoutSeconds);
    SSL_set_fd(ssl, fd);
    ERR_clear_error();
    if (SSL_connect(ssl) == 1) {
        out.session = ssl;
        out.failure = TlsFailure::None;
        return out;
    }
    out.failure = verify ? failure_of(SSL_get_verify_result(ssl)) : TlsFailure::Handshake;
    ERR_clear_error();
    SSL_free(ssl);
    return out;
}

void mail_tls_end(ssl_st*& session) {
    if (!session) return;
    SSL_shutdown(session);
    SSL_free(session);
    ERR_clear_error();
    session = nullptr;
}
