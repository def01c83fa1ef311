#include "base/https_context.h"
#include "base/atomic_file.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Forward secrecy and AEAD only for TLS 1.2; TLS 1.3 has its own, sound,
// default list.
constexpr const char* kTls12Ciphers = "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
                                      "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
                                      "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

// OpenSSL's own callback would ask on the terminal, which a service has not.
int no_passphrase(char*, int, int, void*) {
    return 0;
}

std::string openssl_reason() {
    unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    if (!e) return {};
    const char* reason = ERR_reason_error_string(e);
    return reason ? reason : std::to_string(e);
}

// Missing and unreadable are told apart by the open itself, which also
// reports what the administrator needs to fix (ENOENT, EACCES, EISDIR...).
HttpsProblem check_readable(const std::string& path, HttpsProblem missing, HttpsProblem unreadable,
                            std::string& detail) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
        close(fd);
        if (regular) return HttpsProblem::None;
        detail = strerror(EISDIR);
        return unreadable;
    }
    detail = strerror(errno);
    return errno == ENOENT ? missing : unreadable;
}

bool numeric_address(const std::string& name) {
    unsigned char scratch[16];
    return inet_pton(AF_INET, name.c_str(), scratch) == 1 ||
           inet_pton(AF_INET6, name.c_str(), scratch) == 1;
}

// Host names as certificates hold them: labels of letters, digits and
// inner hyphens, with a leading "*." for a wildcard. Anything else would be
// a name no browser ever matches.
bool host_name(const std::string& name) {
    std::string rest = name.rfind("*.", 0) == 0 ? name.substr(2) : name;
    if (rest.empty() || rest.size() > 253) return false;
    size_t start = 0;
    for (;;) {
        size_t dot = rest.find('.', start);
        std::string label = rest.substr(start, dot == std::string::npos ? dot : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-')
            return false;
        for (unsigned char ch : label)
            if (!isalnum(ch) && ch != '-') return false;
        if (dot == std::string::npos) return true;
        start = dot + 1;
    }
}

bool add_extension(X509* x, int nid, const char* value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, x, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    bool ok = ext && X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool add_names(X509* x, const std::vector<std::string>& names) {
    GENERAL_NAMES* all = sk_GENERAL_NAME_new_null();
    bool ok = all != nullptr;
    for (const std::string& name : names) {
        if (!ok) break;
        GENERAL_NAME* g = GENERAL_NAME_new();
        if (!g) {
            ok = false;
            break;
        }
        if (numeric_address(name)) {
            ASN1_OCTET_STRING* ip = a2i_IPADDRESS(name.c_str());
            ok = ip != nullptr;
            if (ok) GENERAL_NAME_set0_value(g, GEN_IPADD, ip);
        } else {
            ASN1_IA5STRING* dns = ASN1_IA5STRING_new();
            ok = dns && ASN1_STRING_set(dns, name.data(), static_cast<int>(name.size())) == 1;
            if (ok)
                GENERAL_NAME_set0_value(g, GEN_DNS, dns);
            else
                ASN1_IA5STRING_free(dns);
        }
        if (ok) ok = sk_GENERAL_NAME_push(all, g) > 0;
        if (!ok) GENERAL_NAME_free(g);
    }
    if (ok) ok = X509_add1_ext_i2d(x, NID_subject_alt_name, all, 0, 0) == 1;
    GENERAL_NAMES_free(all);
    return ok;
}

X509* make_certificate(EVP_PKEY* key, const std::vector<std::string>& names, int days) {
    X509* x = X509_new();
    if (!x) return nullptr;
    bool ok = X509_set_version(x, 2) == 1;
    // A random serial: browsers refuse a second certificate with the serial
    // of one they have seen from the same issuer.
    BIGNUM* serial = BN_new();
    ok = ok && serial && BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
         BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(x)) != nullptr;
    BN_free(serial);
    // A little in the past, for clocks that are a few minutes behind.
    ok = ok && X509_gmtime_adj(X509_getm_notBefore(x), -600) &&
         X509_gmtime_adj(X509_getm_notAfter(x), 86400L * days) && X509_set_pubkey(x, key) == 1;
    X509_NAME* subject = X509_get_subject_name(x);
    ok = ok &&
         X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(names[0].c_str()), -1,
                                    -1, 0) == 1 &&
         X509_set_issuer_name(x, subject) == 1;
    // An end entity, not an authority: browsers refuse an authority's
    // certificate presented as a server's.
    ok = ok && add_extension(x, NID_basic_constraints, "critical,CA:FALSE") &&
         add_extension(x, NID_key_usage, "critical,digitalSignature") &&
         add_extension(x, NID_ext_key_usage, "serverAuth") &&
         add_extension(x, NID_subject_key_identifier, "hash") && add_names(x, names) &&
         X509_sign(x, key, EVP_sha256()) > 0;
    if (ok) return x;
    X509_free(x);
    return nullptr;
}

// The PEM text is made in memory and the file replaced as a whole, created
// with its mode from the first byte, so a key is never readable by others,
// not even for a moment, and a failed run leaves the old file whole.
template <typename Write>
std::string write_file(const std::string& path, mode_t mode, Write write) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio || !write(bio)) {
        BIO_free(bio);
        return "OpenSSL: " + openssl_reason();
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio, &data);
    const bool ok =
        n > 0 && write_file_atomically(path, std::string_view(data, static_cast<size_t>(n)), mode);
    const int saved = errno;
    BIO_free(bio);
    return ok ? std::string() : path + ": " + strerror(saved ? saved : EIO);
}

} // namespace

HttpsSetup https_load(const std::string& certificateFile, const std::string& keyFile) {
    HttpsSetup out;
    out.problem = check_readable(certificateFile, HttpsProblem::CertificateMissing,
                                 HttpsProblem::CertificateUnreadable, out.detail);
    if (out.problem != HttpsProblem::None) return out;
    out.problem =
        check_readable(keyFile, HttpsProblem::KeyMissing, HttpsProblem::KeyUnreadable, out.detail);
    if (out.problem != HttpsProblem::None) return out;

    ERR_clear_error();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        out.problem = HttpsProblem::NoMemory;
        out.detail = openssl_reason();
        return out;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_cipher_list(ctx, kTls12Ciphers);
    SSL_CTX_set_default_passwd_cb(ctx, no_passphrase);
    // Sessions are resumed by tickets; the server keeps no cache that would
    // need locking and a size limit.
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
    if (SSL_CTX_use_certificate_chain_file(ctx, certificateFile.c_str()) != 1) {
        out.problem = HttpsProblem::CertificateNotPem;
    } else if (SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        // A key that does not fit the certificate already fails here.
        unsigned long e = ERR_peek_last_error();
        out.problem = ERR_GET_REASON(e) == X509_R_KEY_VALUES_MISMATCH ||
                              ERR_GET_REASON(e) == X509_R_KEY_TYPE_MISMATCH
                          ? HttpsProblem::KeyMismatch
                          : HttpsProblem::KeyNotPem;
    } else if (SSL_CTX_check_private_key(ctx) != 1) {
        out.problem = HttpsProblem::KeyMismatch;
    }
    if (out.problem != HttpsProblem::None) {
        out.detail = openssl_reason();
        SSL_CTX_free(ctx);
        return out;
    }
    ERR_clear_error();
    out.context = ctx;
    return out;
}

std::string https_make_self_signed(const std::vector<std::string>& names, int days,
                                   const std::string& certificateFile, const std::string& keyFile,
                                   bool overwrite) {
    if (names.empty()) return "no name";
    for (const std::string& name : names)
        if (!numeric_address(name) && !host_name(name))
            return name + ": not a host name or address";
    if (days < 1 || days > 3650) return "days: 1 to 3650";
    if (!overwrite)
        for (const std::string* path : {&certificateFile, &keyFile})
            if (access(path->c_str(), F_OK) == 0) return *path + ": " + strerror(EEXIST);
    ERR_clear_error();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = key ? make_certificate(key, names, days) : nullptr;
    std::string why;
    if (!cert) {
        why = "OpenSSL: " + openssl_reason();
    } else {
        why = write_file(keyFile, 0600, [&](BIO* b) {
            return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        });
        if (why.empty())
            why = write_file(certificateFile, 0644,
                             [&](BIO* b) { return PEM_write_bio_X509(b, cert) == 1; });
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return why;
}
